// The main window's fixed sizes, shared by its construction and its panels.
#pragma once

namespace qmx::app {

constexpr int kClientWidth = 602;
constexpr int kClientHeight = 513;
constexpr int kMinimumHeight = 256;
constexpr int kTopPanelHeight = 133;
constexpr int kExtPanelHeight = 64;
constexpr int kMcwExtPanelHeight = 47;

}  // namespace qmx::app
