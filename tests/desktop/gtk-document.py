#!/usr/bin/python3
"""A long document in a GTK 3 text view, for the desktop tests. GTK does the
scrolling, the selection and the context menu itself; this file only reports
what happened on standard output, in the same line format as desktop_probe
(times are CLOCK_MONOTONIC microseconds):
  scroll T H V | move T X Y | press T BUTTON X Y | release T BUTTON X Y
  menu T (the context menu was built; it is closed again soon) | select T N
Standard input takes "reset": scroll to the middle, clear the selection.
  gtk-document.py X Y WIDTH HEIGHT"""
import os
import sys
import time

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402


def say(*words):
    print(*words, flush=True)


def now():
    return int(time.monotonic() * 1e6)


x, y, width, height = (int(v) for v in sys.argv[1:5])
window = Gtk.Window(title="Quillmere GTK document")
window.set_default_size(width, height)
window.move(x, y)
scrolled = Gtk.ScrolledWindow()
view = Gtk.TextView(editable=False, wrap_mode=Gtk.WrapMode.NONE)
text = "".join("%4d The quick brown fox jumps over the lazy dog. " % i * 5 + "\n" for i in range(1, 601))
view.get_buffer().set_text(text)
scrolled.add(view)
window.add(scrolled)
window.connect("destroy", Gtk.main_quit)
hadj, vadj = scrolled.get_hadjustment(), scrolled.get_vadjustment()


def report_scroll(*_):
    say("scroll", now(), round(hadj.get_value()), round(vadj.get_value()))


hadj.connect("value-changed", report_scroll)
vadj.connect("value-changed", report_scroll)

view.add_events(Gdk.EventMask.POINTER_MOTION_MASK)


def on_button(_widget, event, name):
    say(name, now(), event.button, round(event.x), round(event.y))
    return False


def on_motion(_widget, event):
    say("move", now(), round(event.x), round(event.y))
    return False


def on_popup(_view, menu):
    say("menu", now())
    GLib.timeout_add(300, lambda: (menu.popdown(), False)[1])


def on_mark(buffer, _where, mark):
    if mark.get_name() in ("insert", "selection_bound"):
        bounds = buffer.get_selection_bounds()
        say("select", now(), bounds[1].get_offset() - bounds[0].get_offset() if bounds else 0)


view.connect("button-press-event", on_button, "press")
view.connect("button-release-event", on_button, "release")
view.connect("motion-notify-event", on_motion)
view.connect("populate-popup", on_popup)
view.get_buffer().connect("mark-set", on_mark)


def reset():
    buffer = view.get_buffer()
    buffer.place_cursor(buffer.get_start_iter())
    vadj.set_value((vadj.get_upper() - vadj.get_page_size()) / 2)
    hadj.set_value((hadj.get_upper() - hadj.get_page_size()) / 4)
    report_scroll()


def on_input(_channel, condition):
    line = os.read(0, 256) if condition & GLib.IO_IN else b""
    if not line:
        Gtk.main_quit()
        return False
    if b"reset" in line:
        reset()
    return True


def on_mapped(*_):
    def first():
        reset()
        say("ready", view.get_allocated_width(), view.get_allocated_height())
        return False

    GLib.idle_add(first)
    return False


window.connect("map-event", on_mapped)
GLib.io_add_watch(GLib.IOChannel.unix_new(0), GLib.IO_IN | GLib.IO_HUP, on_input)
window.show_all()
Gtk.main()
