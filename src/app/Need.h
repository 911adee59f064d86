#pragma once

#include <stdexcept>

// A widget the handler cannot do without; a missing one ends the handler through its guard.
template <class Widget> Widget& Need(Widget* widget) {
    if (widget == nullptr) {
        throw std::logic_error("widget missing");
    }
    return *widget;
}
