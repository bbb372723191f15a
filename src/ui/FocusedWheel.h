#pragma once
// A control that changes a setting takes the mouse wheel only while it has
// keyboard focus from a click or Tab. A wheel turned, or a page scrolled, over
// the window (Quillmere's own grab scrolling included) then changes nothing
// behind the user's back: the event passes on to the window, which ignores it.

class QWidget;

namespace quillmere {

void takeWheelOnlyWhenFocused(QWidget* control);

} // namespace quillmere
