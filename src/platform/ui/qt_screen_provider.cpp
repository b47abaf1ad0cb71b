#include "platform/ui/qt_screen_provider.h"

#include <QGuiApplication>
#include <algorithm>

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

ScreenDescriptor QtScreenProvider::describe(const QScreen& screen) {
    ScreenDescriptor d;
    d.connector = screen.name().toStdString();
    d.id = screenIdForName(d.connector);
    const QString model = screen.model().trimmed();
    d.name = !model.isEmpty()       ? model.toStdString()
             : !d.connector.empty() ? d.connector
                                    : std::string("Display");
    d.geometry = screen.geometry();
    d.scale = screen.devicePixelRatio();
    d.refreshRate = screen.refreshRate();
    return d;
}

std::vector<ScreenDescriptor> QtScreenProvider::screens() const {
    std::vector<ScreenDescriptor> list;
    for (const QScreen* s : QGuiApplication::screens()) {
        list.push_back(describe(*s));
    }
    return list;
}

std::uint32_t QtScreenProvider::mainScreenId() const {
    const QScreen* primary = QGuiApplication::primaryScreen();
    return primary ? describe(*primary).id : 0;
}

Subscription QtScreenProvider::onScreensChanged(std::function<void()> observer) {
    return changes_.subscribe([fn = std::move(observer)](std::uint64_t) { fn(); });
}

QScreen* QtScreenProvider::findScreen(std::uint32_t id) {
    for (QScreen* s : QGuiApplication::screens()) {
        if (screenIdForName(s->name().toStdString()) == id) {
            return s;
        }
    }
    return nullptr;
}

}  // namespace kestio::platform
