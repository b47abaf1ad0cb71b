// Stills whose size, declared or real, is far beyond a screen's: the largest camera photos
// import with their own size and a thumbnail, hostile headers are refused with their reason,
// and neither takes more memory than one decode is allowed. The memory cases run in a child
// process under an address-space limit, so a regression fails the test instead of the machine.

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <filesystem>
#include <memory>

#include "importer_harness.h"
#include "model/localization_manager.h"
#include "platform/runloop/console.h"
#include "support/declared_jpeg.h"
#include "support/declared_tiff.h"
#include "support/limited_child.h"
#include "support/process_runner.h"
#include "support/temporary_folder.h"

namespace kestio::test {
namespace {

// One decode is allowed about 512 MiB; the child gets this much beyond what it inherits.
constexpr long long kChildBytes = 600LL * 1024 * 1024;

void run(std::vector<std::string> argv) {
    const ProcessResult result = runProcess(argv, std::chrono::seconds(300));
    ASSERT_TRUE(result.succeeded()) << describeFailure(argv, result);
}

// A flat grey picture of `width` x `height` made by the ffmpeg command, in the format its
// extension names (a WebP lossy, a TIFF in strips of a few rows).
void ffmpegPicture(const std::filesystem::path& file, int width, int height) {
    const auto ext = file.extension();
    run({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
         "color=c=0x406080:s=" + std::to_string(width) + "x" + std::to_string(height), "-frames:v",
         "1", "-pix_fmt",
         ext == ".jpg"    ? "yuvj420p"
         : ext == ".webp" ? "yuv420p"
                          : "rgb24",
         file.string()});
}

// The exit code of a child that decodes `file` as the importer does: 0 when it decodes with
// `fullSize`, 3 when it decodes with another size, refusedWith(problem) when it is refused.
constexpr int refusedWith(platform::StillProblem problem) {
    return 10 + static_cast<int>(problem);
}

ChildResult decodeInChild(const std::filesystem::path& file, int cpuSeconds, QSize fullSize = {}) {
    const auto decode = ImportBackend::standard().decodeStill;
    return runLimited(kChildBytes, cpuSeconds, [&] {
        const platform::DecodedStill still = decode(file, QSize(1280, 1280));
        _exit(!still.ok() ? refusedWith(still.problem) : still.fullSize == fullSize ? 0 : 3);
    });
}

// ThreadSanitizer stops a child forked from a threaded process as soon as the child starts a
// thread, as the decoders of large JPEG and HEIC pictures do: those cases run in the normal and
// AddressSanitizer builds only.
#if defined(__SANITIZE_THREAD__)
#define SKIP_UNDER_THREAD_SANITIZER() \
    GTEST_SKIP() << "the decoder starts threads in a forked child, which ThreadSanitizer stops"
#else
#define SKIP_UNDER_THREAD_SANITIZER() static_cast<void>(0)
#endif

// Large files are made once for the whole suite.
class LargeStills : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        folder_ = std::make_unique<TemporaryFolder>();
        bomb420_ = folder_->write(
            "bomb420.jpg", jpegDeclaring(32768, 32768, JpegSampling::s420, true).toStdString());
        bomb444_ = folder_->write(
            "bomb444.jpg", jpegDeclaring(32768, 32768, JpegSampling::s444, true).toStdString());
    }
    static void TearDownTestSuite() { folder_.reset(); }

    static std::filesystem::path file(const std::string& name) { return folder_->path() / name; }

    static std::unique_ptr<TemporaryFolder> folder_;
    static std::filesystem::path bomb420_;
    static std::filesystem::path bomb444_;

    ImporterHarness harness;
    platform::Console::Capture console;
};

std::unique_ptr<TemporaryFolder> LargeStills::folder_;
std::filesystem::path LargeStills::bomb420_;
std::filesystem::path LargeStills::bomb444_;

void expectImportedAs(const ImportOutcome& outcome, const std::string& resolution) {
    const ImportResult* result = resultOf(outcome);
    ASSERT_NE(result, nullptr) << errorOf(outcome)->description();
    EXPECT_EQ(result->mediaType, MediaType::still);
    EXPECT_EQ(result->clipInfo.resolution, resolution);
    ASSERT_TRUE(result->thumbnail);
    const QImage thumbnail =
        QImage::fromData(result->thumbnail->data(), static_cast<int>(result->thumbnail->size()));
    EXPECT_FALSE(thumbnail.isNull());
    EXPECT_LE(std::max(thumbnail.width(), thumbnail.height()), 320);
}

// The largest side declares more pixels than any camera photo; 14000x14000 declares fewer, so
// only the memory its whole coefficients need (1.2 GB at 4:4:4, 590 MB at 4:2:0) refuses it.
TEST_F(LargeStills, ProgressiveJpegBombsAreRefusedWithinTheirLimits) {
    using platform::StillProblem;
    const std::vector<std::pair<std::filesystem::path, StillProblem>> bombs = {
        {bomb420_, StillProblem::tooLarge},
        {bomb444_, StillProblem::tooLarge},
        {folder_->write("costly444.jpg",
                        jpegDeclaring(14000, 14000, JpegSampling::s444, true).toStdString()),
         StillProblem::tooCostly},
        {folder_->write("costly420.jpg",
                        jpegDeclaring(14000, 14000, JpegSampling::s420, true).toStdString()),
         StillProblem::tooCostly},
    };
    for (const auto& [bomb, problem] : bombs) {
        SCOPED_TRACE(bomb.filename().string());
        const ChildResult child = decodeInChild(bomb, 1);
        EXPECT_TRUE(child.exited) << "killed by signal " << child.code;
        EXPECT_EQ(child.code, refusedWith(problem));
    }
}

TEST_F(LargeStills, ABaselineJpegOfTheLargestSideIsReadAtAReducedSize) {
    SKIP_UNDER_THREAD_SANITIZER();
    const auto file = folder_->write(
        "baseline.jpg", jpegDeclaring(32768, 32768, JpegSampling::s444, false).toStdString());
    const ChildResult child = decodeInChild(file, 5, QSize(32768, 32768));
    EXPECT_TRUE(child.exited) << "killed by signal " << child.code;
    EXPECT_EQ(child.code, 0);
}

TEST_F(LargeStills, RefusalsNameTheirReasonInTheInterfaceLanguage) {
    struct Case {
        std::filesystem::path file;
        const char* ja;
        const char* en;
    };
    const std::vector<Case> cases = {
        {bomb444_, "画像が大きすぎます: 32768x32768", "The picture is too large: 32768x32768"},
        {folder_->write("costly.jpg",
                        jpegDeclaring(14000, 14000, JpegSampling::s444, true).toStdString()),
         "画像のデコードに必要なメモリが上限を超えます: 14000x14000",
         "Decoding the picture would need more memory than allowed: 14000x14000"},
        {folder_->write("empty.png", ""), "ファイルが空です", "The file is empty"},
        {file("huge.tiff"), "画像が大きすぎます: 15000x14000",
         "The picture is too large: 15000x14000"},
    };
    ASSERT_TRUE(writeTiffDeclaring(file("huge.tiff"), 15000, 14000));
    auto& language = LocalizationManager::shared().language;
    const AppLanguage before = language.get();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file.filename().string());
        for (const auto& [lang, reason] :
             {std::pair{AppLanguage::ja, c.ja}, std::pair{AppLanguage::en, c.en}}) {
            language = lang;
            const ImportOutcome outcome = harness.importMeta(c.file);
            const ImportError* error = errorOf(outcome);
            ASSERT_NE(error, nullptr);
            EXPECT_EQ(error->reason(), std::optional<std::string>(reason));
            EXPECT_NE(error->message().find(reason), std::string::npos) << error->message();
            EXPECT_TRUE(console.contains(std::string("   エラー: ") + reason));
        }
    }
    language = before;
}

TEST_F(LargeStills, AProgressivePhotoOfAHundredMegapixelsImportsWithItsSize) {
    SKIP_UNDER_THREAD_SANITIZER();
    const auto baseline = file("photo-baseline.jpg");
    ffmpegPicture(baseline, 11648, 8736);
    const auto progressive = file("photo.jpg");
    run({"jpegtran", "-progressive", "-outfile", progressive.string(), baseline.string()});
    const ChildResult child = decodeInChild(progressive, 10, QSize(11648, 8736));
    ASSERT_TRUE(child.exited) << "killed by signal " << child.code;
    ASSERT_EQ(child.code, 0);
    expectImportedAs(harness.importMeta(progressive), "11648x8736");
}

TEST_F(LargeStills, PngsOfAHundredAndFiftyAndAHundredAndEightMegapixelsImportWithTheirSize) {
    for (const auto& [w, h] : {std::pair{12248, 12248}, std::pair{12000, 9000}}) {
        const auto png = file("picture-" + std::to_string(w) + "x" + std::to_string(h) + ".png");
        ffmpegPicture(png, w, h);
        const ChildResult child = decodeInChild(png, 60, QSize(w, h));
        ASSERT_TRUE(child.exited) << "killed by signal " << child.code;
        ASSERT_EQ(child.code, 0);
        expectImportedAs(harness.importMeta(png), std::to_string(w) + "x" + std::to_string(h));
    }
}

TEST_F(LargeStills, TiffAndWebpPhotosOfAHundredAndFiftyMegapixelsImportWithTheirSize) {
    for (const char* name : {"photo.tiff", "photo.webp"}) {
        SCOPED_TRACE(name);
        const auto picture = file(name);
        ffmpegPicture(picture, 12248, 12248);
        const ChildResult child = decodeInChild(picture, 60, QSize(12248, 12248));
        ASSERT_TRUE(child.exited) << "killed by signal " << child.code;
        ASSERT_EQ(child.code, 0);
        expectImportedAs(harness.importMeta(picture), "12248x12248");
    }
}

TEST_F(LargeStills, AHeicOfAHundredMegapixelsImportsWithItsSize) {
    SKIP_UNDER_THREAD_SANITIZER();
    const auto png = file("heic-source.png");
    ffmpegPicture(png, 10000, 10000);
    const auto heic = file("photo.heic");
    run({"heif-enc", "-q", "10", "-p", "x265:preset=ultrafast", "-o", heic.string(), png.string()});
    const ChildResult child = decodeInChild(heic, 60, QSize(10000, 10000));
    ASSERT_TRUE(child.exited) << "killed by signal " << child.code;
    ASSERT_EQ(child.code, 0);
    expectImportedAs(harness.importMeta(heic), "10000x10000");
    // What imports can be shown: decoded for display, fitted to a 1080p output and at its own
    // size (whole, it would need 810 MiB), within what one decode may take.
    for (const QSize shownAt : {QSize(1920, 1080), QSize()}) {
        SCOPED_TRACE(shownAt.width());
        const ChildResult shown = runLimited(kChildBytes, 60, [&] {
            const platform::DecodedStill still = platform::decodeStillToShow(heic, shownAt);
            const QSize fits = shownAt.isValid() ? QSize(1080, 1080) : QSize(2160, 2160);
            _exit(!still.ok()                             ? refusedWith(still.problem)
                  : still.fullSize != QSize(10000, 10000) ? 3
                  : still.image.size() != fits            ? 4
                                                          : 0);
        });
        EXPECT_TRUE(shown.exited) << "killed by signal " << shown.code;
        EXPECT_EQ(shown.code, 0);
    }
}

// A PNG of a few hundred bytes whose text chunk declares 2 GiB: refused from the lengths its
// chunks declare, before its reader allocates what they claim.
TEST_F(LargeStills, APngChunkClaimingGibibytesIsRefusedWithoutTheMemoryItClaims) {
    QImage pixels(4, 4, QImage::Format_RGB32);
    pixels.fill(Qt::gray);
    QByteArray written;
    QBuffer buffer(&written);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(pixels.save(&buffer, "PNG"));
    std::string png = written.toStdString();
    std::string chunk(
        "\x7f\xff\xff\xff"
        "tEXt"
        "Comment",
        15);
    chunk += std::string(400, 'x');
    const std::size_t afterHeader = 8 + 12 + 13;
    png.insert(afterHeader, chunk);
    const auto bomb = folder_->write("text-bomb.png", png);
    const ChildResult child = runLimited(64LL * 1024 * 1024, 1, [&] {
        const platform::DecodedStill still = ImportBackend::standard().decodeStill(bomb, {});
        _exit(still.ok() ? 0 : refusedWith(still.problem));
    });
    EXPECT_TRUE(child.exited) << "killed by signal " << child.code;
    EXPECT_EQ(child.code, refusedWith(platform::StillProblem::truncated));
    const ImportError* error = errorOf(harness.importMeta(bomb));
    ASSERT_NE(error, nullptr);
    EXPECT_TRUE(console.contains("PNG"));
}

}  // namespace
}  // namespace kestio::test
