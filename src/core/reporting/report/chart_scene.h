// A chart as a list of shapes in pixel coordinates (rectangles, lines and polygons, texts), so
// that the same picture can be written as an SVG file by the core and painted by a window.
// Each shape carries a role ("light-dark", "bars", "axis", ...) that becomes its SVG class.
#pragma once

#include <string>
#include <variant>
#include <vector>

namespace lumivo::reporting {

struct ScenePoint {
    double x = 0.0, y = 0.0;
};

struct SceneStyle {
    std::string fill = "none";    // "#rrggbb" or "none"
    std::string stroke = "none";  // "#rrggbb" or "none"
    double stroke_width = 1.0;
    std::string dash;  // SVG dash array, "" for solid
    double fill_opacity = 1.0;
};

struct SceneRect {
    double x = 0.0, y = 0.0, width = 0.0, height = 0.0;
    SceneStyle style;
};

// A line through the points; a closed one is a polygon (filled with style.fill).
struct ScenePath {
    std::vector<ScenePoint> points;
    bool closed = false;
    SceneStyle style;
};

enum class TextAnchor { Start, Middle, End };

struct SceneText {
    double x = 0.0, y = 0.0;  // the baseline point the anchor refers to
    std::string text;
    TextAnchor anchor = TextAnchor::Start;
    double size = 12.0;
    bool bold = false;
    double rotate = 0.0;  // degrees, about (x, y)
    std::string colour = "#000000";
};

struct SceneItem {
    std::string role;
    std::variant<SceneRect, ScenePath, SceneText> shape;
};

struct ChartScene {
    double width = 960.0, height = 560.0;
    std::vector<SceneItem> items;

    void Rect(std::string role, double x, double y, double w, double h, SceneStyle style);
    void Line(std::string role, double x1, double y1, double x2, double y2, SceneStyle style);
    void Path(std::string role, std::vector<ScenePoint> points, bool closed, SceneStyle style);
    void Text(std::string role, double x, double y, std::string text,
              TextAnchor anchor = TextAnchor::Start, double size = 12.0, bool bold = false,
              double rotate = 0.0, std::string colour = "#000000");
};

// A self-contained SVG image of the scene on a white background.
std::string RenderSceneSvg(const ChartScene& scene);

// Locale-independent number text for coordinates and labels (shortest form, at most 2 decimals).
std::string SvgNumber(double v);
// Text with the characters XML reserves escaped and control characters replaced by blanks.
std::string SvgEscape(const std::string& text);
// The colour "#rrggbb" mixed with white, `weight` of the colour.
std::string TintColour(const std::string& colour, double weight);

}  // namespace lumivo::reporting
