#pragma once

namespace rava::text {

// Instruction texts of the two text tabs while an operation runs and after
// it ended. (The window's creation captions differ slightly and live with
// the window.)
inline constexpr char kWaitingCaption[] = "Waiting, please...";
inline constexpr char kSendIdleCaption[] =
    "Press the Open button to select the file. You can view it in the window below. "
    "Press the Send button when you are ready to transmit.";
inline constexpr char kReceiveIdleCaption[] =
    "Press the Receive button when you are ready. You can view the received file in the "
    "window below.";

// Title and filter of the file dialog of Open... .
inline constexpr char kOpenDialogTitle[] = "Select the source file";
inline constexpr char kOpenDialogFilter[] = "Text files (*.txt)";

} // namespace rava::text
