"""Drops files on a window the way a file manager does: XDND version 5 over
client messages, with the uri list handed over through the XdndSelection."""

import time
from urllib.parse import quote

from Xlib import X, Xatom
from Xlib.protocol import event


def _atom(d, name):
    return d.intern_atom(name)


def _client_message(d, target, source, type_name, data):
    ev = event.ClientMessage(window=target, client_type=_atom(d, type_name),
                             data=(32, (data + [0] * 5)[:5]))
    target.send_event(ev, event_mask=0)
    d.flush()


def drop_files(display_name, target_id, paths, x, y, timeout=5.0):
    """Drops paths on window target_id at root position (x, y). Returns True
    when the target accepted and finished the drop."""
    from Xlib import display as xdisplay
    d = xdisplay.Display(display_name)
    try:
        root = d.screen().root
        source = root.create_window(-10, -10, 1, 1, 0, X.CopyFromParent, override_redirect=True)
        target = d.create_resource_object("window", target_id)
        uri_list = _atom(d, "text/uri-list")
        selection = _atom(d, "XdndSelection")
        source.set_selection_owner(selection, X.CurrentTime)
        payload = "".join("file://" + quote(p) + "\r\n" for p in paths).encode()
        stamp = X.CurrentTime

        _client_message(d, target, source, "XdndEnter", [source.id, 5 << 24, uri_list, 0, 0])
        _client_message(d, target, source, "XdndPosition",
                        [source.id, 0, (x << 16) | y, stamp, _atom(d, "XdndActionCopy")])
        accepted = finished = dropped = False
        end = time.time() + timeout
        while time.time() < end and not finished:
            if not d.pending_events():
                time.sleep(0.005)
                continue
            ev = d.next_event()
            if ev.type == X.ClientMessage and ev.client_type == _atom(d, "XdndStatus"):
                accepted = bool(ev.data[1][1] & 1)
                if not dropped:
                    dropped = True
                    if not accepted:
                        _client_message(d, target, source, "XdndLeave", [source.id])
                        return False
                    _client_message(d, target, source, "XdndDrop", [source.id, 0, stamp])
            elif ev.type == X.SelectionRequest:
                requestor = ev.requestor
                prop = ev.property or ev.target
                requestor.change_property(prop, ev.target, 8, payload)
                notify = event.SelectionNotify(time=ev.time, requestor=requestor, selection=ev.selection,
                                               target=ev.target, property=prop)
                requestor.send_event(notify)
                d.flush()
            elif ev.type == X.ClientMessage and ev.client_type == _atom(d, "XdndFinished"):
                finished = True
        return finished and accepted
    finally:
        d.close()
