#pragma once
// A message box that closes itself: for runs that end the program with
// nobody there to press OK. It shows the seconds left under the message.
#include <QString>

class QMessageBox;

namespace tessel {

// The line under the message: "（あと 30 秒で閉じます）".
QString CountdownLine(int secondsLeft);

// Shows the box (its text the message) until OK is pressed or `seconds`
// have passed. True when the time ran out.
bool ExecWithCountdown(QMessageBox& box, int seconds);

}  // namespace tessel
