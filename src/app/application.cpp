#include "app/application.h"

#include <QApplication>
#include <QMenuBar>
#include <iostream>

#include "app/allocator_tuning.h"
#include "app/app_delegate.h"
#include "app/app_menus.h"
#include "app/design_canvas.h"
#include "app/dialog_host.h"
#include "app/loading_overlay.h"
#include "app/main_view_wiring.h"
#include "app/main_window.h"
#include "app/open_url.h"
#include "app/panel_frames.h"
#include "app/qt_translations.h"
#include "app/side_panels.h"
#include "app/slot_panels.h"
#include "control/key_binding_panel_controller.h"
#include "control/key_binding_store.h"
#include "control/keyboard_shortcut_handler.h"
#include "control/midi_input_controller.h"
#include "control/midi_list_panel_controller.h"
#include "control/midi_output_controller.h"
#include "grid/midi_assignments_panel.h"
#include "grid/slot_grid_panel.h"
#include "import/clip_importer.h"
#include "model/localization_manager.h"
#include "model/project_manager.h"
#include "model/recent_projects.h"
#include "output/external_monitor_controller.h"
#include "output/output_surface.h"
#include "platform/audio/pulse_audio_device.h"
#include "platform/media/decoded_media_factory.h"
#include "platform/midi/midi_system.h"
#include "platform/runloop/job_threads.h"
#include "platform/runloop/qt_run_loop.h"
#include "platform/storage/bookmark_service.h"
#include "platform/storage/notification_center.h"
#include "platform/storage/package_lock.h"
#include "platform/storage/user_defaults.h"
#include "platform/ui/qt_dialog_presenter.h"
#include "platform/ui/qt_output_window.h"
#include "platform/ui/qt_screen_provider.h"
#include "show/live_playback.h"
#include "show/live_show_importer.h"
#include "show/project_io.h"
#include "show/show_controller.h"
#include "show/show_playback.h"

namespace kestio::app {

// Every part, in the order they are made. The window goes first when they are destroyed: its
// widgets read the show and the playback.
struct Application::Parts {
    explicit Parts(const LaunchOptions& options)
        : notifications(platform::NotificationCenter::defaultCenter()),
          localization(LocalizationManager::shared()),
          defaults(platform::UserDefaults::standard()) {
        notifications.setMainLoop(&loop);
        device = std::make_shared<platform::audio::PulseAudioDevice>(loop, loop.hostClock());
        playback = std::make_unique<LivePlayback>(LivePlayback::Services{
            .loop = loop, .audioDevice = device, .media = media, .localization = &localization});
        midiSystem = platform::makeMIDISystem(loop, options.midiApi);
        midi = std::make_unique<MIDIInputController>(loop, *midiSystem);
        midiOut = std::make_unique<MIDIOutputController>(loop, *midiSystem);
        monitor = std::make_unique<output::ExternalMonitorController>(
            loop, screens, platform::QtOutputWindow::factory(loop));
        window = std::make_unique<MainWindow>(loop);
        dialogs = std::make_unique<platform::QtDialogPresenter>(window.get());
        show = std::make_unique<ShowController>(ShowServices{
            .loop = loop,
            .playback = playback->show(),
            .importer = liveImporter,
            .midi = *midi,
            .midiOut = *midiOut,
            .keyboard = keyboard,
            .dialogs = *dialogs,
            .bookmarks = bookmarks,
            .defaults = defaults,
            .projectManager = projectManager,
            .recentProjects = recentProjects,
            .midiList = &midiList,
        });
        midiAssignments = std::make_unique<grid::MIDIAssignmentsPanel>(*show, midiList);
        delegate = std::make_unique<AppDelegate>(*dialogs, notifications);
        wiring = std::make_unique<MainViewWiring>(MainViewWiring::Services{
            .show = *show,
            .playback = playback->show(),
            .notifications = notifications,
            .delegate = delegate.get(),
            .midi = *midi,
            .midiOut = *midiOut,
            .keyboard = keyboard,
            .installProjectProvider =
                [this](MainViewWiring::ProjectProvider provider) {
                    playback->setProjectProvider(std::move(provider));
                },
            .installLayerLog =
                [this](MainViewWiring::LayerLog log) {
                    playback->program().onLayerLog = std::move(log);
                },
        });

        frames = std::make_unique<PanelFrames>(window->canvas(), *show, playback->show());
        window->canvas().place(CanvasPanel::slotGrid,
                               new grid::SlotGridPanel(grid::SlotGridPanel::Services{
                                   .show = *show,
                                   .loop = loop,
                                   .midi = *midi,
                                   .midiOut = *midiOut,
                                   .midiAssignments = midiAssignments.get()}));
        sidePanels = std::make_unique<SidePanels>(
            window->canvas(), *frames,
            SidePanels::Services{
                .show = *show,
                .program = playback->program(),
                .signals = playback->signals(),
                .monitor = *monitor,
                .midi = *midi,
                .midiOut = *midiOut,
                .recent = {recentProjects, bookmarks, *dialogs,
                           [this](const std::filesystem::path& package) {
                               show->projectIO().loadProject(package);
                           }},
                .soundOutput = *device,
                .loop = loop,
            });
        slotPanels = std::make_unique<SlotPanels>(
            *frames,
            SlotPanels::Services{
                .loop = loop, .show = *show, .importer = liveImporter, .monitor = *monitor});
        window->addOverlay(new LoadingOverlay(loop, show->isLoading, playback->show().warmDone(),
                                              playback->show().warmTotal(), nullptr));
        dialogHost =
            std::make_unique<DialogHost>(loop, *show, *dialogs, [this] { monitor->stop(); });
    }

    ~Parts() {
        menus.reset();
        window.reset();
        sidePanels.reset();
        slotPanels.reset();
        dialogHost.reset();
        wiring.reset();
        midiAssignments.reset();
        show.reset();
    }

    platform::QtRunLoop loop;
    platform::NotificationCenter& notifications;
    LocalizationManager& localization;
    platform::UserDefaults& defaults;
    QtTranslations qtTranslations{localization.language};
    platform::BookmarkService bookmarks;
    ProjectManager projectManager{bookmarks};
    RecentProjects recentProjects{defaults, bookmarks};
    std::shared_ptr<platform::audio::PulseAudioDevice> device;
    platform::media::DecodedMediaFactory media{loop};
    // The playback controller on its output surface, the show's adapter to it, and the colour
    // bars and test tone of the utility buttons.
    std::unique_ptr<LivePlayback> playback;
    ClipImporter importer{loop, bookmarks};
    LiveShowImporter liveImporter{importer};
    std::unique_ptr<platform::MIDISystem> midiSystem;
    std::unique_ptr<MIDIInputController> midi;
    std::unique_ptr<MIDIOutputController> midiOut;
    KeyboardShortcutHandler keyboard{KeyBindingStore::shared()};
    platform::QtScreenProvider screens;
    std::unique_ptr<output::ExternalMonitorController> monitor;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<platform::QtDialogPresenter> dialogs;
    // The "MIDI Assignments" panel's list and window, which the show refreshes after a learn.
    MIDIListPanelController midiList{loop};
    std::unique_ptr<ShowController> show;
    std::unique_ptr<grid::MIDIAssignmentsPanel> midiAssignments;
    std::unique_ptr<AppDelegate> delegate;
    std::unique_ptr<MainViewWiring> wiring;
    std::unique_ptr<PanelFrames> frames;
    std::unique_ptr<SidePanels> sidePanels;
    std::unique_ptr<SlotPanels> slotPanels;
    std::unique_ptr<DialogHost> dialogHost;
    std::unique_ptr<AppMenus> menus;
    platform::Subscription takeSubscription;
    // Once loading has ended, what the decoders freed goes back to the system, away from the
    // main thread.
    platform::SerialWorker memoryReturn;
    platform::Subscription loadingSubscription;
};

namespace {

void alertOpenElsewhere(platform::DialogPresenter& dialogs, const std::filesystem::path& package) {
    dialogs.alert(
        platform::DialogPresenter::AlertStyle::warning,
        L("このプロジェクトは別の Kestio で開かれています",
          "This project is open in another Kestio"),
        package.string() + "\n" +
            L("このウィンドウでは開きませんでした。", "It was not opened in this window."),
        {});
}

}  // namespace

Application::Application(const LaunchOptions& options)
    : options_(options), parts_(std::make_unique<Parts>(options)) {
    Parts& p = *parts_;
    p.menus = std::make_unique<AppMenus>(
        *p.window->menuBar(), p.localization,
        AppMenus::Actions{
            .showKeyBindings = [] { KeyBindingPanelController::shared().show(); },
            .requestWarmUp = [&p] { p.notifications.post(kRequestReWarmUpNotification); },
            .quit = [this] { requestQuit(); },
        });
    p.window->onCloseRequested = [this] { requestQuit(); };
    p.loadingSubscription = p.show->isLoading.subscribe([&p](bool loading) {
        if (!loading) {
            p.memoryReturn.submit(&returnFreedMemory);
        }
    });
    // A take lets the repaint that a key press held go ahead once the cue is on air: where the
    // output window paints on this thread, once it has painted the take's first picture. The
    // look is posted, so that the take's snapshot is published before it.
    p.takeSubscription = p.playback->program().takes.subscribe([&p](std::uint64_t) {
        p.window->holdRepaintForTake();
        p.loop.post([&p] {
            if (platform::OutputWindow* output = p.monitor->monitorWindow()) {
                output->afterNextPicture([&p] { p.window->releaseRepaint(); });
            } else {
                p.window->releaseRepaint();
            }
        });
    });
    p.window->onFirstShown = [this] { onWindowFirstShown(); };
}

Application::~Application() = default;

void Application::onWindowFirstShown() {
    Parts& p = *parts_;
    p.wiring->onAppearSetup();
    // After the keyboard shortcuts' filter, which swallows the keys it handles.
    p.window->watchKeyPresses();
    if (!options_.package) {
        return;
    }
    // The package is handed over once the window is wired, as a document opened from outside.
    const auto package = *options_.package;
    p.loop.post([&p, package] {
        // A package another Kestio has open is left to it: two programs saving one package
        // would overwrite each other's work.
        if (platform::PackageLock::probe(package) == platform::PackageLock::State::heldElsewhere) {
            alertOpenElsewhere(*p.dialogs, package);
            return;
        }
        if (!handleOpenURL(p.notifications, package)) {
            std::cerr << "kestio: not a .ktshow project package: " << package.string() << '\n';
            p.dialogs->alert(
                platform::DialogPresenter::AlertStyle::warning,
                L("プロジェクトを開けません", "Cannot Open Project"),
                package.string() + "\n" +
                    L("名前が「.ktshow」で終わるプロジェクトパッケージではありません。",
                      "This is not a project package: its name does not end in "
                      "\".ktshow\"."),
                {});
        }
    });
}

void Application::requestQuit() {
    if (askingToQuit_) {
        return;
    }
    askingToQuit_ = true;
    parts_->delegate->confirmQuit([this](AppDelegate::Reply reply) {
        askingToQuit_ = false;
        if (reply == AppDelegate::Reply::terminateNow) {
            parts_->window->allowClose();
            parts_->window->close();
            QCoreApplication::quit();
        }
    });
}

int Application::run() {
    parts_->window->show();
    return QApplication::exec();
}

}  // namespace kestio::app
