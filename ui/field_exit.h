#pragma once

#include <functional>

class QWidget;

namespace zelm {

/// Calls handler each time field loses the input focus to another control or is told to
/// give it up, as the "...Exit" handlers want. Switching to another program or opening a
/// popup menu is not leaving the field.
void OnFieldExit(QWidget* field, std::function<void()> handler);

} // namespace zelm
