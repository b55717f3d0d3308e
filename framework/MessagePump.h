#pragma once
// Functions in this file: message pre-translation and a pump for code that
// works on the user-interface thread for a long time (the install sequence).
//   preTranslateMessage   offers a message to the framework's dialogs
//   pumpWaitingMessages   handles the messages that are waiting, then returns

#include <windows.h>

namespace qv {

// Offers the message to the CDialog windows it belongs to, from its own
// window outwards, and returns true when one of them consumed it (the
// dialog manager's keyboard handling). The application's PreTranslateMessage
// does this.
bool preTranslateMessage(MSG& message);

// Takes the thread's waiting messages one by one; each is offered to the
// application's message pre-translation and, unless consumed, translated and
// dispatched. Returns true when the queue is empty. A WM_QUIT is posted again
// for the loop that owns it and ends the pump at once: the result is then
// false.
bool pumpWaitingMessages();

}  // namespace qv
