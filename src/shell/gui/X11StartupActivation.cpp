#include "shell/gui/X11StartupActivation.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <QGuiApplication>
#include <QWindow>

#include "shell/StartupToken.h"

namespace hopwell {
namespace {

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
  const xcb_intern_atom_cookie_t cookie =
      xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
  const xcb_atom_t atom = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
  std::free(reply);
  return atom;
}

// A startup-notification message goes to the root window in pieces of 20 bytes, the first
// as _NET_STARTUP_INFO_BEGIN, the others as _NET_STARTUP_INFO, the terminating zero included.
void SendStartupMessage(xcb_connection_t* connection, xcb_window_t root, const std::string& text) {
  const xcb_atom_t begin = Atom(connection, "_NET_STARTUP_INFO_BEGIN");
  const xcb_atom_t more = Atom(connection, "_NET_STARTUP_INFO");
  if (begin == XCB_ATOM_NONE || more == XCB_ATOM_NONE) return;
  const std::size_t length = text.size() + 1;
  for (std::size_t sent = 0; sent < length; sent += 20) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 8;
    event.window = root;
    event.type = sent == 0 ? begin : more;
    std::memcpy(event.data.data8, text.c_str() + sent, std::min<std::size_t>(20, length - sent));
    xcb_send_event(connection, 0, root, XCB_EVENT_MASK_PROPERTY_CHANGE,
                   reinterpret_cast<const char*>(&event));
  }
}

// The id as a value of the message: quotes and backslashes escaped (tokens have no blanks).
std::string Escaped(const std::string& id) {
  std::string text;
  for (char c : id) {
    if (c == '"' || c == '\\') text += '\\';
    text += c;
  }
  return text;
}

}  // namespace

void ActivateWithX11StartupId(QWindow& window, const StartupToken& token) {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (x11 == nullptr || token.variable != StartupToken::kX11 || token.Empty()) return;
  xcb_connection_t* connection = x11->connection();
  if (connection == nullptr) return;
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
  if (screen == nullptr) return;

  SendStartupMessage(connection, screen->root, "remove: ID=" + Escaped(token.value));

  const xcb_atom_t activeWindow = Atom(connection, "_NET_ACTIVE_WINDOW");
  if (activeWindow != XCB_ATOM_NONE) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = static_cast<xcb_window_t>(window.winId());
    event.type = activeWindow;
    event.data.data32[0] = 1;  // from an application
    event.data.data32[1] = static_cast<std::uint32_t>(token.X11Time());
    xcb_send_event(connection, 0, screen->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
  }
  xcb_flush(connection);
}

}  // namespace hopwell
