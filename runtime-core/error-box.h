// The task-modal error box of fatal and uncaught errors. With ZAN_ERROR_BOX=stderr (and
// always on the Linux build) its title and text go to standard error instead, so that
// unattended runs never block on a dialog.
#pragma once
#include <string>
#include <string_view>

namespace gui {

void error_box(std::u16string_view title, std::u16string_view message);

// The text written to standard error in place of the box.
std::string error_box_text(std::u16string_view title, std::u16string_view message);

} // namespace gui
