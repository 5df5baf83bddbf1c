// The targets of the web and e-mail commands: our own web server and mailbox.
#pragma once

namespace links {

inline constexpr const char* kProductNewsUrl = "http://www.openinvoice.example";
inline constexpr const char* kPeachtreeStuffUrl = "http://www.openinvoice.example/peach.asp";
inline constexpr const char* kEmailUsUrl = "mailto:postmaster@openinvoice.example";
inline constexpr const char* kEmailFriendUrl = "http://www.openinvoice.example/vexelfwd.asp";

}  // namespace links
