#include "platform/DesktopWatch.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstring>
#include <utility>

#ifdef TASSIO_HAVE_XCB
#include "platform/XcbDisplay.h"
#include "platform/XcbReply.h"

#include <string>

#include <xcb/xcb.h>
#include <xcb/xfixes.h>
#ifdef TASSIO_HAVE_XCB_SCREENSAVER
#include <xcb/screensaver.h>
#endif
#endif

#ifdef TASSIO_HAVE_XCB
namespace {

constexpr std::uint32_t kWindowEvents = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;

} // namespace
#endif

struct DesktopWatch::Private : QAbstractNativeEventFilter {
    DesktopWatch* q = nullptr;
    bool x11 = false;
#ifdef TASSIO_HAVE_XCB
    xcb_connection_t* c = nullptr;
    xcb_window_t root = XCB_WINDOW_NONE;
    xcb_atom_t activeAtom = XCB_ATOM_NONE;
    xcb_atom_t currentDesktopAtom = XCB_ATOM_NONE;
    xcb_atom_t stateAtom = XCB_ATOM_NONE;
    xcb_atom_t fullscreenAtom = XCB_ATOM_NONE;
    xcb_atom_t hiddenAtom = XCB_ATOM_NONE;
    xcb_atom_t compositorAtom = XCB_ATOM_NONE; // _NET_WM_CM_Sn, owned by a compositing manager
    std::uint8_t xfixesEvent = 0;              // 0: no XFixes, nothing heard of compositing managers
    std::uint8_t saverEvent = 0; // 0: no screen saver extension
    bool saverOn = false;
    xcb_window_t figure = XCB_WINDOW_NONE;
    bool figureCovered = false; // as last told; an unmapped window is told nothing

    struct Watched {
        xcb_window_t id;
        std::uint32_t previousMask; // what this connection had selected before
        bool changedMask;
    };
    std::vector<Watched> watched;

    // What a burst of events asks for, done once after it.
    bool activeDirty = false;
    std::vector<xcb_window_t> dirty;
    std::vector<xcb_window_t> gone;
    int visibility = -1;
    bool saverDirty = false;
    bool compositingDirty = false;
    bool flushQueued = false;

    bool isWatched(xcb_window_t w) const
    {
        return std::any_of(watched.begin(), watched.end(), [w](const Watched& x) { return x.id == w; });
    }

    void markDirty(xcb_window_t w)
    {
        if (std::find(dirty.begin(), dirty.end(), w) == dirty.end())
            dirty.push_back(w);
        queueFlush();
    }

    void queueFlush()
    {
        // Not from inside Qt's event handling: what listens may map, unmap
        // and read, and one burst of events is one answer.
        if (!flushQueued) {
            flushQueued = true;
            QTimer::singleShot(0, q, [this] { flush(); });
        }
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override
    {
        if (type != "xcb_generic_event_t")
            return false;
        const auto* ev = static_cast<const xcb_generic_event_t*>(message);
        const std::uint8_t kind = ev->response_type & 0x7F;
        switch (kind) {
        case XCB_PROPERTY_NOTIFY: {
            const auto* p = reinterpret_cast<const xcb_property_notify_event_t*>(ev);
            if (p->window == root && p->atom == activeAtom) {
                activeDirty = true;
                queueFlush();
            } else if (p->window == root && p->atom == currentDesktopAtom) {
                // Another desktop: windows come and go without being told.
                for (const Watched& w : watched)
                    markDirty(w.id);
            } else if (p->atom == stateAtom && isWatched(p->window)) {
                markDirty(p->window);
            }
            break;
        }
        case XCB_CONFIGURE_NOTIFY: {
            // Real ones, and those the window manager sends with the place on
            // the root when it moves the frame.
            const auto* e = reinterpret_cast<const xcb_configure_notify_event_t*>(ev);
            if (isWatched(e->window))
                markDirty(e->window);
            break;
        }
        case XCB_MAP_NOTIFY: {
            const auto* e = reinterpret_cast<const xcb_map_notify_event_t*>(ev);
            if (isWatched(e->window))
                markDirty(e->window);
            break;
        }
        case XCB_UNMAP_NOTIFY: {
            const auto* e = reinterpret_cast<const xcb_unmap_notify_event_t*>(ev);
            if (isWatched(e->window))
                markDirty(e->window);
            break;
        }
        case XCB_REPARENT_NOTIFY: {
            const auto* e = reinterpret_cast<const xcb_reparent_notify_event_t*>(ev);
            if (isWatched(e->window))
                markDirty(e->window);
            break;
        }
        case XCB_DESTROY_NOTIFY: {
            const auto* e = reinterpret_cast<const xcb_destroy_notify_event_t*>(ev);
            auto it = std::find_if(watched.begin(), watched.end(), [e](const Watched& w) { return w.id == e->window; });
            if (it != watched.end()) {
                // Its id may name another window soon; nothing to let go.
                watched.erase(it);
                dirty.erase(std::remove(dirty.begin(), dirty.end(), e->window), dirty.end());
                gone.push_back(e->window);
                queueFlush();
            }
            break;
        }
        case XCB_VISIBILITY_NOTIFY: {
            const auto* e = reinterpret_cast<const xcb_visibility_notify_event_t*>(ev);
            // Only fully covered or not matters: a figure swinging in and
            // out from under a window's edge is not woken for more.
            const bool fully = e->state == XCB_VISIBILITY_FULLY_OBSCURED;
            if (e->window == figure && figure != XCB_WINDOW_NONE && fully != figureCovered) {
                figureCovered = fully;
                visibility = e->state;
                queueFlush();
            }
            break;
        }
        default:
            if (xfixesEvent != 0 && kind == xfixesEvent + XCB_XFIXES_SELECTION_NOTIFY
                && reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(ev)->selection == compositorAtom) {
                compositingDirty = true;
                queueFlush();
            }
#ifdef TASSIO_HAVE_XCB_SCREENSAVER
            if (saverEvent != 0 && kind == saverEvent + XCB_SCREENSAVER_NOTIFY) {
                const auto* e = reinterpret_cast<const xcb_screensaver_notify_event_t*>(ev);
                const bool on = e->state == XCB_SCREENSAVER_STATE_ON || e->state == XCB_SCREENSAVER_STATE_CYCLE;
                if (on != saverOn) {
                    saverOn = on;
                    saverDirty = true;
                    queueFlush();
                }
            }
#endif
            break;
        }
        return false;
    }

    xcb_window_t readActive()
    {
        const auto r = xcbReply(
            xcb_get_property_reply(c, xcb_get_property(c, 0, root, activeAtom, XCB_ATOM_WINDOW, 0, 1), nullptr));
        xcb_window_t w = XCB_WINDOW_NONE;
        if (r && xcb_get_property_value_length(r.get()) == 4)
            std::memcpy(&w, xcb_get_property_value(r.get()), 4);
        // Neither the root nor the figure is a window to stand aside for.
        return w == root || w == figure ? xcb_window_t(XCB_WINDOW_NONE) : w;
    }

    // Reads the windows' states in one round trip; reports each, or that it
    // is gone.
    void readStates(const std::vector<xcb_window_t>& ids)
    {
        struct Asked {
            xcb_window_t id;
            xcb_get_window_attributes_cookie_t attributes;
            xcb_get_geometry_cookie_t geometry;
            xcb_translate_coordinates_cookie_t place;
            xcb_get_property_cookie_t state;
        };
        std::vector<Asked> asked;
        for (xcb_window_t id : ids)
            asked.push_back({ id, xcb_get_window_attributes(c, id), xcb_get_geometry(c, id),
                              xcb_translate_coordinates(c, id, root, 0, 0),
                              xcb_get_property(c, 0, id, stateAtom, XCB_ATOM_ATOM, 0, 64) });
        for (const Asked& a : asked) {
            const auto attributes = xcbReply(xcb_get_window_attributes_reply(c, a.attributes, nullptr));
            const auto geometry = xcbReply(xcb_get_geometry_reply(c, a.geometry, nullptr));
            const auto place = xcbReply(xcb_translate_coordinates_reply(c, a.place, nullptr));
            const auto state = xcbReply(xcb_get_property_reply(c, a.state, nullptr));
            if (!attributes || !geometry || !place) {
                if (isWatched(a.id)) {
                    watched.erase(std::find_if(watched.begin(), watched.end(),
                                               [&a](const Watched& w) { return w.id == a.id; }));
                    emit q->windowGone(a.id);
                }
            } else if (isWatched(a.id)) {
                WindowState s;
                s.id = a.id;
                s.x = place->dst_x;
                s.y = place->dst_y;
                s.width = geometry->width;
                s.height = geometry->height;
                bool hidden = false;
                if (state && state->type == XCB_ATOM_ATOM && state->format == 32) {
                    const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(state.get()));
                    const int n = xcb_get_property_value_length(state.get()) / 4;
                    for (int i = 0; i < n; ++i) {
                        s.fullscreen = s.fullscreen || atoms[i] == fullscreenAtom;
                        hidden = hidden || atoms[i] == hiddenAtom;
                    }
                }
                s.shown = attributes->map_state == XCB_MAP_STATE_VIEWABLE && !hidden;
                emit q->windowChanged(s);
            }
        }
    }

    // Whether a viewable override-redirect window above the figure shares
    // some of its place: the figure is then covered by something that no
    // window manager stacks, such as a locker.
    bool coveredByUnmanaged()
    {
        const auto tree = xcbReply(xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr));
        const auto own = xcbReply(xcb_get_geometry_reply(c, xcb_get_geometry(c, figure), nullptr));
        bool found = false;
        if (tree && own) {
            const xcb_window_t* children = xcb_query_tree_children(tree.get());
            const int n = xcb_query_tree_children_length(tree.get());
            int i = 0;
            while (i < n && children[i] != figure)
                ++i;
            // Bottom to top: those after the figure are above it.
            std::vector<std::pair<xcb_get_window_attributes_cookie_t, xcb_get_geometry_cookie_t>> asked;
            for (int k = i + 1; k < n; ++k)
                asked.emplace_back(xcb_get_window_attributes(c, children[k]), xcb_get_geometry(c, children[k]));
            for (const auto& [ac, gc] : asked) {
                const auto a = xcbReply(xcb_get_window_attributes_reply(c, ac, nullptr));
                const auto g = xcbReply(xcb_get_geometry_reply(c, gc, nullptr));
                if (a && g && a->override_redirect && a->map_state == XCB_MAP_STATE_VIEWABLE) {
                    const int right = g->x + g->width + 2 * g->border_width;
                    const int bottom = g->y + g->height + 2 * g->border_width;
                    found = found
                        || (g->x < own->x + own->width && own->x < right && g->y < own->y + own->height
                            && own->y < bottom);
                }
            }
        }
        return found;
    }

    void flush()
    {
        flushQueued = false;
        // First: the answer makes the figure's window anew, which is then
        // told afresh what covers it.
        if (std::exchange(compositingDirty, false))
            emit q->compositingChanged();
        if (saverDirty) {
            saverDirty = false;
            emit q->saverChanged(saverOn);
        }
        for (xcb_window_t w : std::exchange(gone, {}))
            emit q->windowGone(w);
        if (activeDirty) {
            activeDirty = false;
            // The states of the others may have changed with it (a desktop
            // switch, a window minimised): read again after the caller has
            // said which to watch now.
            for (const Watched& w : watched)
                if (std::find(dirty.begin(), dirty.end(), w.id) == dirty.end())
                    dirty.push_back(w.id);
            emit q->activeWindowChanged(readActive());
        }
        std::vector<xcb_window_t> toRead;
        for (xcb_window_t w : std::exchange(dirty, {}))
            if (isWatched(w))
                toRead.push_back(w);
        if (!toRead.empty())
            readStates(toRead);
        if (visibility >= 0) {
            const bool covered = visibility == XCB_VISIBILITY_FULLY_OBSCURED;
            visibility = -1;
            emit q->figureCovered(covered, covered && coveredByUnmanaged());
        }
    }

    void select(xcb_window_t id, std::vector<Watched>& into)
    {
        const auto a = xcbReply(xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, id), nullptr));
        if (!a)
            return; // gone already: readStates says so
        Watched w { id, a->your_event_mask, false };
        // The program's own windows have them from Qt already, and keep
        // Qt's mask untouched.
        if ((w.previousMask & kWindowEvents) != kWindowEvents) {
            const std::uint32_t mask = w.previousMask | kWindowEvents;
            // The window may be gone by the time this arrives: no error for that.
            xcb_discard_reply(c, xcb_change_window_attributes_checked(c, id, XCB_CW_EVENT_MASK, &mask).sequence);
            w.changedMask = true;
        }
        into.push_back(w);
    }

    void release(const Watched& w)
    {
        if (w.changedMask)
            xcb_discard_reply(
                c, xcb_change_window_attributes_checked(c, w.id, XCB_CW_EVENT_MASK, &w.previousMask).sequence);
    }
#else
    bool nativeEventFilter(const QByteArray&, void*, qintptr*) override { return false; }
#endif
};

DesktopWatch::DesktopWatch(QObject* parent)
    : QObject(parent)
    , d_(std::make_unique<Private>())
{
    d_->q = this;
#ifdef TASSIO_HAVE_XCB
    const XcbDisplay display = XcbDisplay::ofQt();
    if (!display)
        return;
    d_->c = display.connection;
    d_->x11 = true;
    d_->root = display.screen->root;
    d_->activeAtom = internAtom(d_->c, "_NET_ACTIVE_WINDOW");
    d_->currentDesktopAtom = internAtom(d_->c, "_NET_CURRENT_DESKTOP");
    d_->stateAtom = internAtom(d_->c, "_NET_WM_STATE");
    d_->fullscreenAtom = internAtom(d_->c, "_NET_WM_STATE_FULLSCREEN");
    d_->hiddenAtom = internAtom(d_->c, "_NET_WM_STATE_HIDDEN");
    d_->compositorAtom = internAtom(d_->c, ("_NET_WM_CM_S" + std::to_string(display.screenNumber)).c_str());

    // The root's properties name the active window and the desktop shown.
    const auto root
        = xcbReply(xcb_get_window_attributes_reply(d_->c, xcb_get_window_attributes(d_->c, d_->root), nullptr));
    if (root && !(root->your_event_mask & XCB_EVENT_MASK_PROPERTY_CHANGE)) {
        const std::uint32_t mask = root->your_event_mask | XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(d_->c, d_->root, XCB_CW_EVENT_MASK, &mask);
    }

    // A compositing manager takes or gives up this selection as it starts or stops.
    const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(d_->c, &xcb_xfixes_id);
    if (xfixes && xfixes->present && d_->compositorAtom != XCB_ATOM_NONE) {
        xcbReply(xcb_xfixes_query_version_reply(d_->c, xcb_xfixes_query_version(d_->c, 5, 0), nullptr));
        d_->xfixesEvent = xfixes->first_event;
        xcb_xfixes_select_selection_input(d_->c, d_->root, d_->compositorAtom,
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER
                                              | XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY
                                              | XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    }

#ifdef TASSIO_HAVE_XCB_SCREENSAVER
    // Told when the saver starts and stops (on Xorg also when DPMS blanks),
    // and asked once now.
    const xcb_query_extension_reply_t* saver = xcb_get_extension_data(d_->c, &xcb_screensaver_id);
    if (saver && saver->present) {
        xcbReply(xcb_screensaver_query_version_reply(d_->c, xcb_screensaver_query_version(d_->c, 1, 1), nullptr));
        d_->saverEvent = saver->first_event;
        xcb_screensaver_select_input(d_->c, d_->root, XCB_SCREENSAVER_EVENT_NOTIFY_MASK);
        const auto info = xcbReply(
            xcb_screensaver_query_info_reply(d_->c, xcb_screensaver_query_info(d_->c, d_->root), nullptr));
        d_->saverOn
            = info && (info->state == XCB_SCREENSAVER_STATE_ON || info->state == XCB_SCREENSAVER_STATE_CYCLE);
    }
#endif
    QCoreApplication::instance()->installNativeEventFilter(d_.get());
    xcb_flush(d_->c);
#endif
}

DesktopWatch::~DesktopWatch()
{
#ifdef TASSIO_HAVE_XCB
    if (d_->x11) {
        for (const Private::Watched& w : d_->watched)
            d_->release(w);
        xcb_flush(d_->c);
    }
#endif
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(d_.get());
}

bool DesktopWatch::isActive() const
{
    return d_->x11;
}

std::uint32_t DesktopWatch::activeWindow() const
{
#ifdef TASSIO_HAVE_XCB
    if (d_->x11)
        return d_->readActive();
#endif
    return 0;
}

bool DesktopWatch::saverOn() const
{
#ifdef TASSIO_HAVE_XCB
    return d_->saverOn;
#else
    return false;
#endif
}

void DesktopWatch::watchWindows(const std::vector<std::uint32_t>& ids)
{
#ifdef TASSIO_HAVE_XCB
    if (!d_->x11)
        return;
    std::vector<Private::Watched> kept;
    std::vector<xcb_window_t> fresh;
    for (const Private::Watched& w : d_->watched) {
        if (std::find(ids.begin(), ids.end(), w.id) != ids.end())
            kept.push_back(w);
        else
            d_->release(w);
    }
    for (std::uint32_t id : ids) {
        if (id == XCB_WINDOW_NONE || id == d_->root || id == d_->figure
            || std::any_of(kept.begin(), kept.end(), [id](const Private::Watched& w) { return w.id == id; }))
            continue;
        // Selected before it is read: no change between the two is missed.
        d_->select(id, kept);
        fresh.push_back(id);
    }
    d_->watched = std::move(kept);
    // A window that could not be selected is gone: readStates reports it.
    for (std::uint32_t id : fresh)
        if (!d_->isWatched(id))
            emit windowGone(id);
    fresh.erase(std::remove_if(fresh.begin(), fresh.end(), [this](std::uint32_t id) { return !d_->isWatched(id); }),
                fresh.end());
    if (!fresh.empty())
        d_->readStates(fresh);
    xcb_flush(d_->c);
#else
    (void)ids;
#endif
}

void DesktopWatch::rereadWindows()
{
#ifdef TASSIO_HAVE_XCB
    if (!d_->x11)
        return;
    std::vector<xcb_window_t> ids;
    for (const Private::Watched& w : d_->watched)
        ids.push_back(w.id);
    if (!ids.empty())
        d_->readStates(ids);
#endif
}

void DesktopWatch::watchFigure(QWidget& figure)
{
#ifdef TASSIO_HAVE_XCB
    if (!d_->x11)
        return;
    d_->figure = static_cast<xcb_window_t>(figure.winId());
    d_->visibility = -1;
    d_->figureCovered = false;
    const auto a
        = xcbReply(xcb_get_window_attributes_reply(d_->c, xcb_get_window_attributes(d_->c, d_->figure), nullptr));
    if (a) {
        const std::uint32_t mask = a->your_event_mask | XCB_EVENT_MASK_VISIBILITY_CHANGE;
        xcb_change_window_attributes(d_->c, d_->figure, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(d_->c);
    }
#else
    (void)figure;
#endif
}

bool DesktopWatch::compositing() const
{
#ifdef TASSIO_HAVE_XCB
    if (d_->x11 && d_->compositorAtom != XCB_ATOM_NONE) {
        const auto r = xcbReply(
            xcb_get_selection_owner_reply(d_->c, xcb_get_selection_owner(d_->c, d_->compositorAtom), nullptr));
        return r && r->owner != XCB_NONE;
    }
#endif
    return false;
}
