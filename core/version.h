// The program's version as the About window shows it and the settings file records it.
#pragma once

namespace zelv {

inline constexpr char kVersionText[] = "v2.72";

} // namespace zelv
