#include "view/FitRule.h"

#include <QTest>
#include <cmath>
#include <limits>

using namespace zerbrak;

namespace {

// The same double, bit for bit; a NaN matches a NaN.
bool same(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

} // namespace

class TestFitRule : public QObject {
    Q_OBJECT
private slots:
    // Into the fixed view bounds, 2111 by 619. The scaled-down sizes are the exact doubles of a
    // single-precision ratio times the picture's own size: 1857.0000529289246 is 3000 times
    // 0.619f.
    void fitsIntoTheViewBounds_data() {
        QTest::addColumn<double>("w");
        QTest::addColumn<double>("h");
        QTest::addColumn<double>("newWidth");
        QTest::addColumn<double>("newHeight");
        const double nan = std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("scale from 1 to 2 leaves the size") << 640.0 << 480.0 << 640.0 << 480.0;
        QTest::newRow("height ratio 6.19 gives 6") << 200.0 << 100.0 << 1200.0 << 600.0;
        QTest::newRow("width ratio 2.111 gives 2") << 1000.0 << 100.0 << 2000.0 << 200.0;
        QTest::newRow("just twice over") << 1055.0 << 309.0 << 2110.0 << 618.0;
        QTest::newRow("down by the height ratio")
            << 3000.0 << 1000.0 << 1857.0000529289246 << 619.00001764297485;
        QTest::newRow("wide: down by the width ratio")
            << 5000.0 << 500.0 << 2110.9999716281891 << 211.09999716281891;
        QTest::newRow("one unit too wide")
            << 2112.0 << 619.0 << 2110.9999694824219 << 618.70690393447876;
        QTest::newRow("equal ratios of 1") << 2111.0 << 619.0 << 2111.0 << 619.0;
        QTest::newRow("equal ratios of 0.5") << 4222.0 << 1238.0 << 2111.0 << 619.0;
        QTest::newRow("1 by 1 up by 619") << 1.0 << 1.0 << 619.0 << 619.0;
        // No answer from the rule: the size stays.
        QTest::newRow("empty") << 0.0 << 0.0 << 0.0 << 0.0;
        QTest::newRow("zero width") << 0.0 << 100.0 << 0.0 << 100.0;
        QTest::newRow("factor beyond 32 bits") << 1e-7 << 1e-7 << 1e-7 << 1e-7;
        QTest::newRow("too large for a float") << 1e300 << 1e300 << 1e300 << 1e300;
        QTest::newRow("not a number") << nan << 5.0 << nan << 5.0;
    }
    void fitsIntoTheViewBounds() {
        QFETCH(double, w);
        QFETCH(double, h);
        QFETCH(double, newWidth);
        QFETCH(double, newHeight);
        const SizeD fitted = fitSize(w, h, 2111.0, 619.0);
        QVERIFY2(same(fitted.width, newWidth) && same(fitted.height, newHeight),
                 qPrintable(QString::asprintf("%.17g by %.17g", fitted.width, fitted.height)));
        // Fitting again may shrink by the rounding of a float ratio once; then it is stable.
        const SizeD again = fitSize(fitted.width, fitted.height, 2111.0, 619.0);
        const SizeD third = fitSize(again.width, again.height, 2111.0, 619.0);
        QVERIFY(same(third.width, again.width) && same(third.height, again.height));
    }
};

QTEST_APPLESS_MAIN(TestFitRule)
#include "tst_fit_rule.moc"
