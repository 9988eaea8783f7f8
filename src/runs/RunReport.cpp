#include "RunReport.h"

#include "FolderBatch.h"
#include "FrameSeries.h"
#include "OutputFolder.h"
#include "RunOutcome.h"
#include "glitch/FormatTable.h"

#include <QLocale>
#include <algorithm>

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
    const int finished = summary.kept + summary.givenUp + (summary.lastUnchecked ? 1 : 0);
    if (summary.cancelled) {
        QString report = QStringLiteral("Cancelled after %1 of %2").arg(finished).arg(frameCount);
        if (summary.lastUnchecked) {
            report += QStringLiteral(" (the last written but not checked to decode)");
        }
        return report;
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

std::optional<RunResultLine> runResultLine(const RunOutcome& outcome, const QString& home) {
    if (const auto* series = std::get_if<SeriesOutcome>(&outcome)) {
        return RunResultLine{seriesReport(series->summary, series->frameCount,
                                          homeRelative(outputFolderPath(home), home)),
                             series->summary.lastKept};
    }
    if (const auto* batch = std::get_if<FolderBatchSummary>(&outcome)) {
        return RunResultLine{batchReport(*batch, homeRelative(batch->outDir, home)), {}};
    }
    return std::nullopt;
}

QString inputDescription(const QString& originName, const QStringList& reencodes) {
    if (reencodes.isEmpty()) {
        return originName;
    }
    // Newest first: each copy was made from the one named after it.
    QString text = QStringLiteral("re-encoded to %1 from ").arg(reencodes.last());
    const qsizetype copies = reencodes.size() - 1;
    const qsizetype named = std::min<qsizetype>(copies, maxNamedCopies);
    for (qsizetype i = 0; i < named; ++i) {
        text += QStringLiteral("the %1 copy ").arg(reencodes[copies - 1 - i]);
        text += i + 1 < named ? QStringLiteral("of ") : QString();
    }
    if (copies > named) {
        text += QStringLiteral("(after ") +
                count(static_cast<int>(copies - named), "earlier re-encode", "earlier re-encodes") +
                QStringLiteral(") ");
    }
    return text + (copies > 0 ? QStringLiteral("of ") : QString()) + originName;
}

QString unusedControlsNote(CorruptionMode mode) {
    switch (mode) {
    case CorruptionMode::SingleByteStrike:
        return QStringLiteral(" (not used for PNG)");
    case CorruptionMode::LineBreakRewrite:
        return QStringLiteral(" (not used for BMP)");
    case CorruptionMode::ReplaceAndScatter:
        break;
    }
    return {};
}

QString homeRelative(const QString& path, const QString& home) {
    if (!home.isEmpty() && path.startsWith(home + QLatin1Char('/'))) {
        return QLatin1Char('~') + path.mid(home.size());
    }
    return path;
}

} // namespace zerbrak
