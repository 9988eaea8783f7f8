#include "RunReport.h"

#include "FolderBatch.h"
#include "FrameSeries.h"
#include "glitch/FormatTable.h"

#include <QLocale>

namespace zerbrak {
namespace {

QString count(int n, const char* one, const char* many) {
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

QString givenUpText(int givenUp) {
    return count(givenUp, "frame", "frames") +
           QStringLiteral(" given up after %1 undecodable passes").arg(maxRetries + 1);
}

} // namespace

QString seriesReport(const FrameSeriesSummary& summary, std::int32_t frameCount,
                     const QString& folder) {
    const int finished = summary.kept + summary.givenUp;
    if (summary.cancelled) {
        return QStringLiteral("Cancelled after %1 of %2").arg(finished).arg(frameCount);
    }
    QString report;
    if (summary.kept > 0 || summary.givenUp == 0) {
        report = QStringLiteral("%1 of %2 frames kept").arg(summary.kept).arg(frameCount);
        if (summary.partial > 0) {
            report += QStringLiteral(" (%1 partial)").arg(summary.partial);
        }
        report += QStringLiteral(" in ") + folder;
    }
    if (summary.givenUp > 0) {
        report +=
            (report.isEmpty() ? QString() : QStringLiteral("; ")) + givenUpText(summary.givenUp);
        if (summary.lastGivenUp) {
            report += QStringLiteral("; the picture shown is not a damaged frame");
        }
    }
    if (summary.outputFailed || summary.runFailed) {
        report = QStringLiteral("Stopped by an error; ") + report;
    }
    return report;
}

QString batchReport(const FolderBatchSummary& summary, const QString& destination) {
    const auto written = static_cast<int>(summary.written.size());
    if (summary.cancelled) {
        return summary.entries == 0 && written == 0
                   ? QStringLiteral("Folder batch cancelled")
                   : QStringLiteral("Cancelled after %1 of %2 files")
                         .arg(written + summary.skipped)
                         .arg(summary.entries);
    }
    QString report = QStringLiteral("%1 of %2 files written to %3")
                         .arg(written)
                         .arg(summary.entries)
                         .arg(destination);
    if (summary.skipped > 0) {
        report += QStringLiteral(" (%1 skipped)").arg(summary.skipped);
    }
    return summary.failed() ? QStringLiteral("Stopped by an error; ") + report : report;
}

CorruptionMode nextMode(const QString& endFormat, const TranscodeTarget& target) {
    if (const auto* fixed = std::get_if<FixedTarget>(&target)) {
        return chooseMode(formatRow(*fixed).extension);
    }
    return chooseMode(endFormat.toStdString());
}

QString passDescription(const QString& endFormat, const TranscodeTarget& target,
                        const GlitchParams& params) {
    if (const auto* fixed = std::get_if<FixedTarget>(&target)) {
        return QStringLiteral("re-encoded to %1 first, then ")
                   .arg(QString::fromUtf8(formatRow(*fixed).title)) +
               passDescription(QString::fromUtf8(formatRow(*fixed).extension), FreeText{}, params);
    }
    switch (nextMode(endFormat, target)) {
    case CorruptionMode::SingleByteStrike:
        return QStringLiteral("PNG: one random byte per pass; Chance and Bytes apply to other "
                              "formats");
    case CorruptionMode::LineBreakRewrite:
        return QStringLiteral("BMP: line breaks rewritten; Chance and Bytes apply to other "
                              "formats");
    case CorruptionMode::ReplaceAndScatter:
        break;
    }
    const std::uint32_t interval = scatterInterval(params.chance);
    QString text = interval == 0 ? QStringLiteral("scatter: nothing struck at chance 100")
                                 : QStringLiteral("scatter: about 1 byte in %1 struck")
                                       .arg(QLocale().toString(interval));
    if (params.replace) {
        text += QStringLiteral("; every %1 becomes %2 from byte 40 on")
                    .arg(params.fromByte)
                    .arg(params.toByte);
    }
    return text;
}

QString homeRelative(const QString& path, const QString& home) {
    if (!home.isEmpty() && path.startsWith(home + QLatin1Char('/'))) {
        return QLatin1Char('~') + path.mid(home.size());
    }
    return path;
}

} // namespace zerbrak
