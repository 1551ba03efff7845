// The nearest OpenCV operations on the same pixels as the plugin's (the photograph, R G B A),
// single thread, into a destination made beforehand: bitwise_not for InvertQRX, convertScaleAbs
// for the contrast and brightness methods, LUT with a table per channel for TransformColorsQRX.
#include <opencv2/core.hpp>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>

#include "bench_support.h"

namespace qrxbench {

namespace {

cv::Mat photoMat(int size) {
    const qrx::Image img = makeImage(Content::Photo, size, size, false);
    cv::Mat m(size, size, CV_8UC4);
    std::memcpy(m.data, img.rgba.data(), img.rgba.size());
    return m;
}

void runOpenCv(benchmark::State& state, int size,
               const std::function<void(const cv::Mat&, cv::Mat&)>& op) {
    cv::setNumThreads(0);
    const cv::Mat src = photoMat(size);
    cv::Mat dst(size, size, CV_8UC4, cv::Scalar::all(1));
    op(src, dst);
    LoopTimer timer;
    for (auto _ : state) {
        op(src, dst);
        benchmark::DoNotOptimize(dst.data);
    }
    report(state, timer.elapsedNanoseconds(), double(size) * size, size_t(size) * size * 4,
           "opencv");
}

cv::Mat channelTable() {
    cv::Mat lut(1, 256, CV_8UC4);
    for (int i = 0; i < 256; ++i) {
        auto& e = lut.at<cv::Vec4b>(0, i);
        e[0] = uint8_t(std::lround(255.0 * std::pow(i / 255.0, 0.8)));
        e[1] = uint8_t(i);
        e[2] = uint8_t(std::lround(255.0 * std::pow(i / 255.0, 1.2)));
        e[3] = uint8_t(i);
    }
    return lut;
}

} // namespace

void registerOpenCvBenchmarks() {
    static const cv::Mat lut = channelTable();
    for (int size : sizes()) {
        const std::string tail = "/" + std::to_string(size);
        const double minTime = size > 1024 ? 0.2 : 0.1;
        benchmark::RegisterBenchmark(
            ("opencv/bitwise_not" + tail).c_str(),
            [size](benchmark::State& s) {
                runOpenCv(s, size, [](const cv::Mat& a, cv::Mat& b) { cv::bitwise_not(a, b); });
            })
            ->Unit(benchmark::kMillisecond)
            ->MinTime(minTime);
        benchmark::RegisterBenchmark(("opencv/convertScaleAbs" + tail).c_str(),
                                     [size](benchmark::State& s) {
                                         runOpenCv(s, size, [](const cv::Mat& a, cv::Mat& b) {
                                             cv::convertScaleAbs(a, b, 1.2, 10.0);
                                         });
                                     })
            ->Unit(benchmark::kMillisecond)
            ->MinTime(minTime);
        benchmark::RegisterBenchmark(
            ("opencv/LUT" + tail).c_str(),
            [size](benchmark::State& s) {
                runOpenCv(s, size, [](const cv::Mat& a, cv::Mat& b) { cv::LUT(a, lut, b); });
            })
            ->Unit(benchmark::kMillisecond)
            ->MinTime(minTime);
    }
}

} // namespace qrxbench
