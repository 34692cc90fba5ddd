// The program's version, as shown in the banner, the window title and crash reports.
#pragma once

inline constexpr const char kAppVersion[] = "2.0.21";
