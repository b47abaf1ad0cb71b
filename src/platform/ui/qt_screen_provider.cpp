#include "platform/ui/qt_screen_provider.h"

#include <QGuiApplication>
#include <algorithm>

#include "platform/ui/screen_ids.h"

namespace kestio::platform {

QtScreenProvider::QtScreenProvider() : context_(std::make_unique<QObject>()) {
    QObject::connect(qGuiApp, &QGuiApplication::screenAdded, context_.get(), [this](QScreen* s) {
        watch(s);
        changed();
    });
    QObject::connect(qGuiApp, &QGuiApplication::screenRemoved, context_.get(), [this](QScreen* s) {
        QObject::disconnect(s, nullptr, context_.get(), nullptr);
        std::erase(watched_, s);
        changed();
    });
    QObject::connect(qGuiApp, &QGuiApplication::primaryScreenChanged, context_.get(),
                     [this](QScreen*) { changed(); });
    for (QScreen* s : QGuiApplication::screens()) {
        watch(s);
    }
}

QtScreenProvider::~QtScreenProvider() = default;

void QtScreenProvider::watch(QScreen* screen) {
    if (!screen || std::find(watched_.begin(), watched_.end(), screen) != watched_.end()) {
        return;
    }
    watched_.push_back(screen);
    auto notify = [this] { changed(); };
    QObject::connect(screen, &QScreen::geometryChanged, context_.get(), notify);
    QObject::connect(screen, &QScreen::refreshRateChanged, context_.get(), notify);
    QObject::connect(screen, &QScreen::logicalDotsPerInchChanged, context_.get(), notify);
    QObject::connect(screen, &QScreen::physicalDotsPerInchChanged, context_.get(), notify);
}

namespace {

// A screen's description without its id, which depends on the other screens.
ScreenDescriptor describe(const QScreen& screen) {
    ScreenDescriptor d;
    d.connector = screen.name().toStdString();
    d.serial = screen.serialNumber().trimmed().toStdString();
    const QString model = screen.model().trimmed();
    d.name = !model.isEmpty()       ? model.toStdString()
             : !d.connector.empty() ? d.connector
                                    : std::string("Display");
    d.geometry = screen.geometry();
    d.scale = screen.devicePixelRatio();
    d.refreshRate = screen.refreshRate();
    return d;
}

}  // namespace

std::vector<ScreenDescriptor> QtScreenProvider::describeAll() {
    std::vector<ScreenDescriptor> list;
    for (const QScreen* s : QGuiApplication::screens()) {
        list.push_back(describe(*s));
    }
    assignScreenIds(list);
    return list;
}

std::vector<ScreenDescriptor> QtScreenProvider::screens() const {
    return describeAll();
}

std::uint32_t QtScreenProvider::mainScreenId() const {
    const QList<QScreen*> all = QGuiApplication::screens();
    const auto primary = all.indexOf(QGuiApplication::primaryScreen());
    return primary < 0 ? 0 : describeAll().at(std::size_t(primary)).id;
}

Subscription QtScreenProvider::onScreensChanged(std::function<void()> observer) {
    return changes_.subscribe([fn = std::move(observer)](std::uint64_t) { fn(); });
}

QScreen* QtScreenProvider::findScreen(std::uint32_t id) {
    const QList<QScreen*> all = QGuiApplication::screens();
    const std::vector<ScreenDescriptor> described = describeAll();
    for (std::size_t i = 0; i < described.size() && i < std::size_t(all.size()); ++i) {
        if (described[i].id == id) {
            return all[qsizetype(i)];
        }
    }
    return nullptr;
}

}  // namespace kestio::platform
