#pragma once

/// The program's version: the banner shows it, and the build reads it from
/// here for the packages, so that it is written in this one place.
inline constexpr char kProgramVersion[] = "15.2.23.6";
