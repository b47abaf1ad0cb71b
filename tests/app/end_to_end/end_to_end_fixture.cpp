#include "end_to_end_fixture.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "grid/grid_geometry.h"
#include "model/project_manager.h"
#include "program_show.h"
#include "support/frame_number_strip.h"
#include "support/media_fixtures.h"
#include "support/required_server.h"

namespace kestio::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

namespace {

// Waits until `frame` gives two different frame numbers of the clip: its picture moves.
bool framesMove(const std::function<int()>& frame) {
    int first = -1;
    return pollUntil([&] {
        const int now = frame();
        if (now < 0) {
            return false;
        }
        if (first < 0) {
            first = now;
        }
        return now != first;
    });
}

}  // namespace

void EndToEnd::SetUpTestSuite() {
    desktop_ = new VirtualDesktop();
    pulse_ = new PulseServer();
    pulseFailure_ = pulse_->start();
    jack_ = new JackServer();
}

void EndToEnd::TearDownTestSuite() {
    // jackd can take its client time-out to end after the program's clients went with their
    // processes: nothing of it is needed any more.
    jack_->kill();
    delete jack_;
    delete pulse_;
    delete desktop_;
}

void EndToEnd::SetUp() {
    if (!desktop_->failure().empty()) {
        return serverCannotStart("the X server", desktop_->failure());
    }
    if (!pulseFailure_.empty()) {
        return serverCannotStart("PulseAudio", pulseFailure_);
    }
    if (!jack_->running()) {
        return serverCannotStart("JACK", jack_->failure());
    }
    // The program's own settings, caches and data, nowhere near the user's.
    environment_ = programEnvironment(folder_.path());
    // On the X server, libxkbcommon's keymap reading calls strndup() on names that are not
    // NUL-terminated, which strndup allows; a sanitized program's strict string checks read on
    // to a NUL and report it. The program keeps every other sanitizer option.
    const char* asan = std::getenv("ASAN_OPTIONS");
    environment_.push_back(std::make_unique<ScopedEnvironment>(
        "ASAN_OPTIONS", (asan ? std::string(asan) + ":" : "") + "strict_string_checks=0"));
}

std::vector<EndToEnd::Cue> EndToEnd::standardCues() {
    return {{0, kKeySlot, "KeyCue"}, {0, kMidiSlot, "MidiCue"}, {0, kClickSlot, "ClickCue"}};
}

fs::path EndToEnd::writeShow(const std::vector<Cue>& cues, const std::string& name) {
    const MediaFile& clip = mediaFixtures().rateClip({60000, 1001});
    ProjectData project(4, 10);
    project.midiInputEnabled = true;
    for (const Cue& cue : cues) {
        // Each cue has a file of its own name, as the importer leaves it.
        const fs::path file = folder_.copy(clip.path, cue.title + ".mp4");
        SlotData& data = project.banks[cue.bank].slots[cue.slot];
        makeLoopingClipCue(data, clip, file, cue.title, bookmarks_);
        if (cue.title == "MidiCue") {
            data.addMIDIBinding(1, kMidiNote);
        }
    }
    return ProjectManager(bookmarks_).save(project, folder_ / name);
}

std::string EndToEnd::awaitShow(KestioProcess& kestio, const fs::path& package) {
    std::string window;
    EXPECT_TRUE(pollUntil([&] {
        const auto found = kestio.mainWindow();
        window = found.value_or("");
        return found.has_value();
    })) << kestio.output();
    // The show is ready once its clips are warmed up.
    EXPECT_TRUE(pollUntil([&] {
        return readFile(package / "app.log").find("ウォームアップ完了") != std::string::npos;
    })) << kestio.output();
    return window;
}

bool EndToEnd::played(const fs::path& package, const std::string& cue, int times,
                      std::chrono::milliseconds guard) {
    return pollUntil(
        [&] {
            const std::string log = readFile(package / "app.log");
            int count = 0;
            for (auto at = log.find("再生開始: "); at != std::string::npos;
                 at = log.find("再生開始: ", at + 1)) {
                const auto end = log.find('\n', at);
                count += log.substr(at, end - at).find(cue) != std::string::npos ? 1 : 0;
            }
            return count >= times;
        },
        guard);
}

int EndToEnd::programFrame(KestioProcess& kestio, const std::string& window) {
    const auto frame = kestio.geometry(window);
    if (!frame) {
        return -1;
    }
    const QImage shot = desktop_->grab(*frame);
    const auto canvas = findCanvas(shot);
    if (!canvas) {
        return -1;
    }
    // The player card: 467,8 to 1110,536 of the 1920×1080 canvas. A window forced below its
    // minimum size shows the canvas's top left part only: then the picture is looked for in the
    // whole window.
    const double scale = canvas->width() / 1920.0;
    const bool whole = std::abs(canvas->width() / canvas->height() - 16.0 / 9.0) < 0.05;
    const QRect card =
        whole ? QRectF(canvas->x() + 467 * scale, canvas->y() + 8 * scale, 643 * scale, 528 * scale)
                    .toAlignedRect()
              : shot.rect();
    const auto picture = findTestPicture(shot, card);
    return picture ? readFrameNumber(shot.copy(*picture)) : -1;
}

bool EndToEnd::programPlays(KestioProcess& kestio, const std::string& window) {
    return framesMove([&] { return programFrame(kestio, window); });
}

int EndToEnd::outputFrame() {
    const QImage shot = desktop_->grab(QRect(QPoint(0, 0), VirtualDesktop::kSecondScreen), 1);
    const auto picture = findTestPicture(shot, shot.rect());
    return picture ? readFrameNumber(shot.copy(*picture)) : -1;
}

bool EndToEnd::outputPlays() {
    return framesMove([&] { return outputFrame(); });
}

std::optional<QPoint> EndToEnd::onScreen(KestioProcess& kestio, const std::string& window,
                                         QPointF onCanvas) {
    const auto frame = kestio.geometry(window);
    const auto canvas = frame ? findCanvas(desktop_->grab(*frame)) : std::nullopt;
    if (!canvas) {
        return std::nullopt;
    }
    const double scale = canvas->width() / 1920.0;
    return (frame->topLeft() + canvas->topLeft() + onCanvas * scale).toPoint();
}

int EndToEnd::canvasPixelsNear(KestioProcess& kestio, const std::string& window,
                               const QRectF& onCanvas, const QColor& color, int tolerance) {
    const auto frame = kestio.geometry(window);
    const QImage shot = frame ? desktop_->grab(*frame) : QImage();
    const auto canvas = shot.isNull() ? std::nullopt : findCanvas(shot);
    if (!canvas) {
        return -1;
    }
    const double scale = canvas->width() / 1920.0;
    const QRect area =
        QRectF(canvas->topLeft() + onCanvas.topLeft() * scale, onCanvas.size() * scale)
            .toAlignedRect()
            .intersected(shot.rect());
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor pixel = shot.pixelColor(x, y);
            count += std::abs(pixel.red() - color.red()) <= tolerance &&
                             std::abs(pixel.green() - color.green()) <= tolerance &&
                             std::abs(pixel.blue() - color.blue()) <= tolerance
                         ? 1
                         : 0;
        }
    }
    return count;
}

bool EndToEnd::clickCanvas(KestioProcess& kestio, const std::string& window, QPointF onCanvas,
                           int button) {
    const auto point = onScreen(kestio, window, onCanvas);
    // An operator clicks in the active window: without a window manager, the window has the
    // focus only when given it (and Qt opens no context menu in a window without it).
    if (!point || !desktop_->xdotool({"windowfocus", "--sync", window})) {
        return false;
    }
    return desktop_
        ->xdotool({"mousemove", "--sync", std::to_string(point->x()), std::to_string(point->y()),
                   "click", std::to_string(button)})
        .has_value();
}

bool EndToEnd::clickCell(KestioProcess& kestio, const std::string& window, int slot) {
    const QRectF body = grid::slotBodyRect(QRectF(QPointF(0, 0), grid::kPanelOnCanvas.size()));
    const double rowHeight = body.height() / 4;
    const double columnWidth = body.width() / 10;
    return clickCanvas(kestio, window,
                       grid::kPanelOnCanvas.topLeft() + body.topLeft() +
                           QPointF(columnWidth * (slot % 10 + 0.5), rowHeight * (slot / 10 + 0.5)));
}

bool EndToEnd::answerDefault(KestioProcess& kestio) {
    std::string dialog;
    if (!pollUntil([&] {
            const auto found = kestio.dialogWindow();
            dialog = found.value_or("");
            return found.has_value();
        })) {
        return false;
    }
    return kestio.press(dialog, {"Return"});
}

}  // namespace kestio::test
