// How many readings a second the reading chain and the whole per-reading work (chain, record,
// write, needle) manage on this machine, without a window or a port.
//
//   reading-chain-bench [log folder]
//
// Prints one line per figure: the median of five runs, with min and max beside it.

#include "gauge/reading_chain.h"
#include "gauge/reading_pipeline.h"
#include "log/log_record.h"
#include "log/measurement_log.h"
#include "support/log_opening.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace
{

struct Figures {
    double median, min, max;
};

template <typename Run> Figures measure(Run run)
{
    std::vector<double> rates;
    for (int i = 0; i < 5; ++i)
        rates.push_back(run());
    std::sort(rates.begin(), rates.end());
    return {rates[2], rates.front(), rates.back()};
}

void print(const char* what, const Figures& f)
{
    std::printf("%-46s median %12.0f readings/s   (min %.0f, max %.0f)\n", what, f.median, f.min,
                f.max);
}

volatile int sink = 0;

} // namespace

int main(int argc, char** argv)
{
    const QChar separator = QLatin1Char('.');
    const QString offset = QStringLiteral("     0");

    print("reading chain (byte + offset -> caption)", measure([&] {
              constexpr int kReadings = 2'000'000;
              QElapsedTimer t;
              t.start();
              for (int i = 0; i < kReadings; ++i) {
                  const auto r =
                      piezon::computeReading(static_cast<quint8>(i * 7), offset, separator);
                  sink = sink + static_cast<int>(r->caption.size());
              }
              return kReadings / (t.nsecsElapsed() / 1e9);
          }));

    QTemporaryDir tmp(argc > 1 ? QDir(QString::fromLocal8Bit(argv[1])).filePath("benchXXXXXX")
                               : QDir::tempPath() + "/benchXXXXXX");
    print("pipeline incl. one log write per reading", measure([&] {
              constexpr int kReadings = 500'000;
              piezon::MeasurementLog log;
              QString error;
              piezon::support::openLog(log, tmp.filePath("bench.log"), &error);
              piezon::ReadingPipeline pipeline(separator);
              QElapsedTimer t;
              t.start();
              for (int i = 0; i < kReadings; ++i)
                  pipeline.process(static_cast<quint8>(i * 7), offset, true, &log, &error);
              const double rate = kReadings / (t.nsecsElapsed() / 1e9);
              log.close();
              return rate;
          }));
    return 0;
}
