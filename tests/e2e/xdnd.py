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


def drop_files(display_name, target_id, paths, x, y, timeout=10.0):
    """Drops paths on window target_id at root position (x, y). Returns True
    when the target accepted and finished the drop."""
    r = drop(display_name, target_id, paths, x, y, timeout=timeout)
    return r.finished and r.accepted


class DropResult:
    def __init__(self):
        self.answered = False   # an XdndStatus arrived
        self.accepted = False   # the target's last XdndStatus accepted the drop
        self.finished = False   # XdndFinished arrived
        self.finished_accepted = False  # and said the drop was taken
        self.action = None      # the action XdndFinished reports as done, by name

    def __repr__(self):
        return (f"DropResult(answered={self.answered}, accepted={self.accepted}, finished={self.finished}, "
                f"action={self.action})")


def drop(display_name, target_id, paths, x, y, action="XdndActionCopy", offered=None, timeout=10.0):
    """Drops paths (str, or bytes for names in any encoding) on window
    target_id at root position (x, y), proposing action; offered lists the
    actions the source allows (its XdndActionList), none when not given."""
    from Xlib import display as xdisplay
    d = xdisplay.Display(display_name)
    result = DropResult()
    try:
        root = d.screen().root
        source = root.create_window(-10, -10, 1, 1, 0, X.CopyFromParent, override_redirect=True)
        if offered:
            source.change_property(_atom(d, "XdndActionList"), Xatom.ATOM, 32,
                                   [_atom(d, a) for a in offered])
        target = d.create_resource_object("window", target_id)
        uri_list = _atom(d, "text/uri-list")
        selection = _atom(d, "XdndSelection")
        source.set_selection_owner(selection, X.CurrentTime)
        payload = b"".join(b"file://" + quote(p).encode("ascii") + b"\r\n" for p in paths)
        stamp = X.CurrentTime

        _client_message(d, target, source, "XdndEnter", [source.id, 5 << 24, uri_list, 0, 0])
        _client_message(d, target, source, "XdndPosition",
                        [source.id, 0, (x << 16) | y, stamp, _atom(d, action)])
        dropped = False
        end = time.time() + timeout
        while time.time() < end and not result.finished:
            if not d.pending_events():
                time.sleep(0.005)
                continue
            ev = d.next_event()
            if ev.type == X.ClientMessage and ev.client_type == _atom(d, "XdndStatus"):
                result.answered = True
                result.accepted = bool(ev.data[1][1] & 1)
                if not dropped:
                    dropped = True
                    if not result.accepted:
                        _client_message(d, target, source, "XdndLeave", [source.id])
                        return result
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
                result.finished = True
                result.finished_accepted = bool(ev.data[1][1] & 1)
                atom = ev.data[1][2]
                result.action = d.get_atom_name(atom) if atom else None
        if not dropped:
            # A source that gives up says so, or the target would take the
            # next drag for this one.
            _client_message(d, target, source, "XdndLeave", [source.id])
        return result
    finally:
        # The server carries out what this connection sent before anything
        # from the next drop's connection: a late XdndLeave would end that one.
        d.sync()
        d.close()
