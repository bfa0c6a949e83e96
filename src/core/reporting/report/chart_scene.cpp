#include "core/reporting/report/chart_scene.h"

#include <array>
#include <charconv>
#include <cmath>

namespace lumivo::reporting {

namespace {

std::string StyleAttributes(const SceneStyle& s) {
    std::string out = " fill=\"" + s.fill + "\"";
    if (s.fill != "none" && s.fill_opacity < 1.0)
        out += " fill-opacity=\"" + SvgNumber(s.fill_opacity) + "\"";
    out += " stroke=\"" + s.stroke + "\"";
    if (s.stroke != "none") {
        if (s.stroke_width != 1.0) out += " stroke-width=\"" + SvgNumber(s.stroke_width) + "\"";
        if (!s.dash.empty()) out += " stroke-dasharray=\"" + s.dash + "\"";
    }
    return out;
}

}  // namespace

std::string SvgNumber(double v) {
    if (!std::isfinite(v)) return "0";
    v = std::round(v * 100.0) / 100.0;
    if (v == 0.0) v = 0.0;  // no "-0"
    std::array<char, 64> buf{};
    const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), v);
    return std::string(buf.data(), r.ptr);
}

std::string SvgEscape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                // Control characters are not allowed in XML text.
                out += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
        }
    }
    return out;
}

std::string TintColour(const std::string& colour, double weight) {
    static const char* const kHex = "0123456789abcdef";
    std::string out = "#";
    for (std::size_t i = 1; i + 1 < colour.size() && i < 7; i += 2) {
        const int v = std::stoi(colour.substr(i, 2), nullptr, 16);
        const int mixed = static_cast<int>(std::lround(v * weight + 255.0 * (1.0 - weight)));
        out += kHex[mixed / 16];
        out += kHex[mixed % 16];
    }
    return out;
}

void ChartScene::Rect(std::string role, double x, double y, double w, double h, SceneStyle style) {
    items.push_back({std::move(role), SceneRect{x, y, w, h, std::move(style)}});
}

void ChartScene::Line(std::string role, double x1, double y1, double x2, double y2,
                      SceneStyle style) {
    items.push_back({std::move(role), ScenePath{{{x1, y1}, {x2, y2}}, false, std::move(style)}});
}

void ChartScene::Path(std::string role, std::vector<ScenePoint> points, bool closed,
                      SceneStyle style) {
    items.push_back({std::move(role), ScenePath{std::move(points), closed, std::move(style)}});
}

void ChartScene::Text(std::string role, double x, double y, std::string text, TextAnchor anchor,
                      double size, bool bold, double rotate, std::string colour) {
    items.push_back({std::move(role), SceneText{x, y, std::move(text), anchor, size, bold, rotate,
                                                std::move(colour)}});
}

std::string RenderSceneSvg(const ChartScene& scene) {
    const std::string w = SvgNumber(scene.width), h = SvgNumber(scene.height);
    std::string svg;
    svg.reserve(64 * scene.items.size() + 512);
    svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + w + "\" height=\"" + h +
           "\" viewBox=\"0 0 " + w + " " + h + "\" font-family=\"sans-serif\" font-size=\"12\">\n";
    svg += "<rect x=\"0\" y=\"0\" width=\"" + w + "\" height=\"" + h + "\" fill=\"white\"/>\n";
    for (const SceneItem& item : scene.items) {
        const std::string cls = item.role.empty() ? "" : " class=\"" + SvgEscape(item.role) + "\"";
        if (const auto* r = std::get_if<SceneRect>(&item.shape)) {
            svg += "<rect" + cls + " x=\"" + SvgNumber(r->x) + "\" y=\"" + SvgNumber(r->y) +
                   "\" width=\"" + SvgNumber(r->width) + "\" height=\"" + SvgNumber(r->height) +
                   "\"" + StyleAttributes(r->style) + "/>\n";
        } else if (const auto* p = std::get_if<ScenePath>(&item.shape)) {
            if (p->points.empty()) continue;
            std::string pts;
            for (const ScenePoint& q : p->points) {
                pts += SvgNumber(q.x);
                pts += ',';
                pts += SvgNumber(q.y);
                pts += ' ';
            }
            pts.pop_back();
            svg += std::string(p->closed ? "<polygon" : "<polyline") + cls + " points=\"" + pts +
                   "\"" + StyleAttributes(p->style) + "/>\n";
        } else if (const auto* t = std::get_if<SceneText>(&item.shape)) {
            const char* anchor = t->anchor == TextAnchor::Middle ? "middle"
                                 : t->anchor == TextAnchor::End  ? "end"
                                                                 : "start";
            svg += "<text" + cls + " x=\"" + SvgNumber(t->x) + "\" y=\"" + SvgNumber(t->y) +
                   "\" text-anchor=\"" + anchor + "\"";
            if (t->size != 12.0) svg += " font-size=\"" + SvgNumber(t->size) + "\"";
            if (t->bold) svg += " font-weight=\"bold\"";
            if (t->colour != "#000000") svg += " fill=\"" + t->colour + "\"";
            if (t->rotate != 0.0)
                svg += " transform=\"rotate(" + SvgNumber(t->rotate) + " " + SvgNumber(t->x) + " " +
                       SvgNumber(t->y) + ")\"";
            svg += ">" + SvgEscape(t->text) + "</text>\n";
        }
    }
    svg += "</svg>\n";
    return svg;
}

}  // namespace lumivo::reporting
