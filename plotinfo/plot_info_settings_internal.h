#pragma once

// Where finalisation reads its one setting from the registry: below HKEY_LOCAL_MACHINE, the
// key, its section and the value holding the miter threshold of the fat-line pass.

namespace genplot::detail
{

inline constexpr char kSettingsKeyPath[] = "Software\\Tavrin\\Conversion";
inline constexpr char kSettingsSection[] = "General";
inline constexpr char kMiterLimitValue[] = "MiterLimit";

} // namespace genplot::detail
