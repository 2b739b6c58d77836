// A paint device that keeps the texts drawn on it with the top-left corner of each, so tests
// check where text goes without depending on how the font is rasterised.
#pragma once

#include <QFontMetrics>
#include <QPaintDevice>
#include <QPaintEngine>
#include <QPainterPath>
#include <QPoint>
#include <QString>
#include <QTextItem>
#include <QTransform>

#include <vector>

namespace morvel::chordtest {

struct DrawnText {
    QString Text;
    QPoint TopLeft;
};

class RecordingEngine : public QPaintEngine {
  public:
    RecordingEngine() : QPaintEngine(QPaintEngine::AllFeatures) {}
    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState& state) override {
        if (state.state() & QPaintEngine::DirtyTransform) transform_ = state.transform();
    }
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
    void drawPolygon(const QPointF*, int, PolygonDrawMode) override {}
    void drawPath(const QPainterPath&) override {}
    void drawTextItem(const QPointF& baseline, const QTextItem& item) override {
        const QPointF origin = transform_.map(baseline);
        const int ascent = QFontMetrics(item.font()).ascent();
        Texts.push_back({item.text(), QPoint(qRound(origin.x()), qRound(origin.y()) - ascent)});
    }
    Type type() const override { return QPaintEngine::User; }

    std::vector<DrawnText> Texts;

  private:
    QTransform transform_;
};

class RecordingDevice : public QPaintDevice {
  public:
    RecordingDevice(int width, int height) : width_(width), height_(height) {}
    ~RecordingDevice() override = default;
    QPaintEngine* paintEngine() const override { return &engine_; }
    const std::vector<DrawnText>& Texts() const { return engine_.Texts; }
    void Clear() { engine_.Texts.clear(); }

  protected:
    int metric(PaintDeviceMetric metric) const override {
        switch (metric) {
        case PdmWidth:
            return width_;
        case PdmHeight:
            return height_;
        case PdmWidthMM:
            return width_ * 254 / 960;
        case PdmHeightMM:
            return height_ * 254 / 960;
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY:
            return 96;
        case PdmDepth:
            return 32;
        case PdmNumColors:
            return 1 << 24;
        case PdmDevicePixelRatio:
            return 1;
        case PdmDevicePixelRatioScaled:
            return static_cast<int>(devicePixelRatioFScale());
        default:
            return 0;
        }
    }

  private:
    int width_;
    int height_;
    mutable RecordingEngine engine_;
};

} // namespace morvel::chordtest
