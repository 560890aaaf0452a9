#pragma once

#include "graph/SampleStore.h"

#include <QColor>
#include <QLineF>
#include <QRect>
#include <vector>

class QPainter;

enum class GraphAxis { Sample, Time };

// What one frame shows: a stretch of the X axis, in sample numbers or in
// read times (ms since the epoch), and the channels drawn.
struct PlotRequest {
    GraphAxis axis = GraphAxis::Sample;
    double from = 0;
    double to = 0;
    quint32 hidden = 0; // bit per channel
    int pointerX = -1;  // a cursor line at this pixel, -1 for none
};

// Draws the samples with QPainter. Each pixel column shows the lowest and
// highest value among its samples, so a frame costs the width of the plot,
// not the number of samples; zoomed in closer than a sample a pixel, the
// samples are joined by lines.
class GraphPlot {
public:
    void paint(QPainter& painter, const QRect& area, const SampleStore& store,
               const PlotRequest& request);
    // Where the samples go inside `area` (the rest holds the scales).
    static QRect plotArea(const QRect& area);
    static QColor colour(int channel);

    // The X axis value of a sample, and the first sample at or after a value.
    static double xOf(const SampleStore& store, GraphAxis axis, qint64 sample);
    static qint64 sampleAt(const SampleStore& store, GraphAxis axis, double x);
    // Everything kept, first to last; equal ends when there is one sample.
    static void fullRange(const SampleStore& store, GraphAxis axis, double& from, double& to);

private:
    void drawScales(QPainter& painter, const QRect& plot, const PlotRequest& request, double low,
                    double high);
    void drawDense(QPainter& painter, int channel, const QRect& plot, double low, double high);
    void drawSparse(QPainter& painter, const SampleStore& store, int channel, const QRect& plot,
                    const PlotRequest& request, double low, double high);

    std::vector<qint64> m_bounds;               // first sample of each column, and the end
    std::vector<SampleStore::Extent> m_extents; // channel by column
    std::vector<QLineF> m_lines;
};
