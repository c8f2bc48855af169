// The publisher named by the generator window: its panel hint, the last line
// of its help text and the page a click on its panel opens.
#pragma once

namespace tarn {

inline constexpr char kPublisherName[] = "The Tarn Project";
inline constexpr char kPublisherSite[] = "https://tarn.example.org/";
inline constexpr char kPublisherSoftwarePage[] = "https://tarn.example.org/software.htm";

}  // namespace tarn
