#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace hopwell {

// What a desktop hands a program it starts so that the program's window may come to the
// front: XDG_ACTIVATION_TOKEN on Wayland (xdg-activation), DESKTOP_STARTUP_ID on X11
// (startup notification). A later launch passes its token on to the running instance.
struct StartupToken {
  static constexpr const char* kWayland = "XDG_ACTIVATION_TOKEN";
  static constexpr const char* kX11 = "DESKTOP_STARTUP_ID";
  // Longer values, or values with blanks or control characters, are not passed on.
  static constexpr std::size_t kMaxBytes = 512;

  std::string variable;  // kWayland, kX11, or empty for none
  std::string value;

  bool Empty() const { return value.empty(); }
  bool IsWayland() const { return variable == kWayland; }
  // The X server time of the launch ("..._TIME<number>" at the end of a startup id), 0 when
  // it carries none.
  unsigned long X11Time() const;
};

// The token in this process's environment (Wayland's first), or none.
StartupToken StartupTokenFromEnvironment();

// The token as the relay carries it, "NAME=value"; empty for none.
std::string EncodeStartupToken(const StartupToken& token);
// The token of a relayed "NAME=value"; none for anything else.
StartupToken DecodeStartupToken(std::string_view text);

}  // namespace hopwell
