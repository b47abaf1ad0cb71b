#pragma once

// A connection of the benchmark's own to the X server, for timing what another program shows:
// grabs of a few rows of the screen that say when the server read them (between the request
// leaving and its answer coming back), windows as they are mapped, and the server's time stamps
// of key presses. The server's clock is the monotonic clock in milliseconds (cut to 32 bits), as
// is std::chrono::steady_clock on Linux: serverTimeToSteady() turns one into the other.

#include <xcb/xcb.h>

#include <QImage>
#include <QRect>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace kestio::bench {

using SteadyClock = std::chrono::steady_clock;

// The steady-clock instant of an X server time stamp (milliseconds), taken within 24 days of it.
inline SteadyClock::time_point serverTimeToSteady(std::uint32_t serverMs) {
    const auto now = SteadyClock::now();
    const auto nowMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch());
    const auto behind =
        static_cast<std::int32_t>(static_cast<std::uint32_t>(nowMs.count()) - serverMs);
    return SteadyClock::time_point(nowMs - std::chrono::milliseconds(behind));
}

inline double millisecondsBetween(SteadyClock::time_point from, SteadyClock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

class XScreenWatch {
  public:
    struct Grab {
        QImage image;  // RGB32; null when the server refused
        SteadyClock::time_point asked;
        SteadyClock::time_point answered;
    };
    struct Events {
        std::vector<std::uint32_t> mapped;    // top-level windows, in the order they were mapped
        std::vector<std::uint32_t> keyTimes;  // server time stamps of key presses
    };

    explicit XScreenWatch(const std::string& display) {
        connection_ = xcb_connect(display.c_str(), nullptr);
        if (xcb_connection_has_error(connection_) == 0) {
            for (auto it = xcb_setup_roots_iterator(xcb_get_setup(connection_)); it.rem;
                 xcb_screen_next(&it)) {
                roots_.push_back(it.data->root);
            }
        }
    }
    ~XScreenWatch() { xcb_disconnect(connection_); }
    XScreenWatch(const XScreenWatch&) = delete;
    XScreenWatch& operator=(const XScreenWatch&) = delete;

    bool connected() const { return !roots_.empty(); }

    // The pixels of `area` in the root coordinates of X screen `screen`.
    Grab grab(const QRect& area, std::size_t screen = 0) {
        Grab grab;
        grab.asked = SteadyClock::now();
        const auto cookie = xcb_get_image(
            connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, roots_.at(screen), std::int16_t(area.x()),
            std::int16_t(area.y()), std::uint16_t(area.width()), std::uint16_t(area.height()), ~0u);
        xcb_get_image_reply_t* reply = xcb_get_image_reply(connection_, cookie, nullptr);
        grab.answered = SteadyClock::now();
        if (reply == nullptr) {
            return grab;
        }
        // Depth 24 comes as 32 bits a pixel, blue first: Qt's RGB32 on this byte order.
        const int length = xcb_get_image_data_length(reply);
        if (length == area.width() * area.height() * 4) {
            grab.image = QImage(xcb_get_image_data(reply), area.width(), area.height(),
                                area.width() * 4, QImage::Format_RGB32)
                             .copy();
        }
        std::free(reply);
        return grab;
    }

    // Reports top-level windows as they are mapped (take().mapped).
    void watchTopLevels() {
        for (const auto root : roots_) {
            selectInput(root, XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY);
        }
    }
    // Reports the key presses delivered to `window` (take().keyTimes), alongside its own client.
    void watchKeys(std::uint32_t window) { selectInput(window, XCB_EVENT_MASK_KEY_PRESS); }

    // The events that have arrived, without waiting.
    Events take() {
        Events events;
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
            switch (event->response_type & 0x7f) {
                case XCB_MAP_NOTIFY:
                    events.mapped.push_back(
                        reinterpret_cast<xcb_map_notify_event_t*>(event)->window);
                    break;
                case XCB_KEY_PRESS:
                    events.keyTimes.push_back(
                        reinterpret_cast<xcb_key_press_event_t*>(event)->time);
                    break;
                default:
                    break;
            }
            std::free(event);
        }
        return events;
    }

    struct Placement {
        std::size_t screen = 0;
        QRect area;  // the window's inside in the root coordinates of its screen
    };
    std::optional<Placement> placement(std::uint32_t window) {
        xcb_get_geometry_reply_t* size =
            xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr);
        if (size == nullptr) {
            return std::nullopt;
        }
        const QSize extent(size->width, size->height);
        const xcb_window_t root = size->root;
        std::free(size);
        const auto screen =
            std::size_t(std::find(roots_.begin(), roots_.end(), root) - roots_.begin());
        xcb_translate_coordinates_reply_t* place = xcb_translate_coordinates_reply(
            connection_, xcb_translate_coordinates(connection_, window, root, 0, 0), nullptr);
        if (place == nullptr) {
            return std::nullopt;
        }
        const QPoint origin(place->dst_x, place->dst_y);
        std::free(place);
        return Placement{screen, QRect(origin, extent)};
    }
    std::optional<QRect> geometry(std::uint32_t window) {
        const auto found = placement(window);
        return found ? std::optional<QRect>(found->area) : std::nullopt;
    }

    // The process id the window's owner gives in _NET_WM_PID.
    std::optional<int> processOf(std::uint32_t window) {
        xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 1, 11, "_NET_WM_PID"), nullptr);
        if (atom == nullptr) {
            return std::nullopt;
        }
        const xcb_atom_t name = atom->atom;
        std::free(atom);
        xcb_get_property_reply_t* property = xcb_get_property_reply(
            connection_, xcb_get_property(connection_, 0, window, name, XCB_ATOM_CARDINAL, 0, 1),
            nullptr);
        std::optional<int> pid;
        if (property != nullptr && xcb_get_property_value_length(property) == 4) {
            pid = int(*static_cast<std::uint32_t*>(xcb_get_property_value(property)));
        }
        std::free(property);
        return pid;
    }

  private:
    void selectInput(std::uint32_t window, std::uint32_t mask) {
        xcb_change_window_attributes(connection_, window, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(connection_);
    }

    xcb_connection_t* connection_ = nullptr;
    std::vector<xcb_window_t> roots_;  // one for each X screen
};

}  // namespace kestio::bench
