#include "recorder/echo/kfft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <random>
#include <thread>
#include <vector>

#include "recorder/echo/dfeld.h"

namespace hoerspur {
namespace {

std::vector<double> zufall(std::size_t n, unsigned seed) {
    std::mt19937 g(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<double> v(n);
    for (double& x : v) x = u(g);
    return v;
}

TEST(DFeld, HoldsAtLeastOneZeroedAlignedElement) {
    DFeld leer(0);
    EXPECT_EQ(leer.n(), 1u);
    EXPECT_EQ(leer[0], 0.0);

    DFeld f(1000);
    for (std::size_t i = 0; i < f.n(); ++i) ASSERT_EQ(f[i], 0.0);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(f.p()) % 64, 0u);
    f[999] = 3.0;
    f.null();
    EXPECT_EQ(f[999], 0.0);
}

TEST(KFFT, ForwardMatchesTheDefinitionAt512Points) {
    KFFT fft(9);
    const std::size_t n = fft.n();
    auto re = zufall(n, 1), im = zufall(n, 2);
    std::vector<std::complex<double>> erwartet(n);
    for (std::size_t k = 0; k < n; ++k) {
        for (std::size_t t = 0; t < n; ++t) {
            const double w = -2.0 * std::numbers::pi * static_cast<double>((k * t) % n) / n;
            erwartet[k] += std::complex<double>(re[t], im[t]) * std::polar(1.0, w);
        }
    }
    fft.vor(re.data(), im.data());
    for (std::size_t k = 0; k < n; ++k) {
        ASSERT_NEAR(re[k], erwartet[k].real(), 1e-10) << k;
        ASSERT_NEAR(im[k], erwartet[k].imag(), 1e-10) << k;
    }
}

TEST(KFFT, ImpulseGivesAllOnes) {
    KFFT fft(9);
    std::vector<double> re(512, 0.0), im(512, 0.0);
    re[0] = 1.0;
    fft.vor(re.data(), im.data());
    for (std::size_t k = 0; k < 512; ++k) {
        ASSERT_DOUBLE_EQ(re[k], 1.0);
        ASSERT_DOUBLE_EQ(im[k], 0.0);
    }
}

TEST(KFFT, InverseAfterForwardReturnsTheInputAtBothSizes) {
    for (int log2n : {9, 17}) {
        KFFT fft(log2n);
        const auto re0 = zufall(fft.n(), 3), im0 = zufall(fft.n(), 4);
        auto re = re0, im = im0;
        fft.vor(re.data(), im.data());
        fft.rueck(re.data(), im.data());
        for (std::size_t i = 0; i < fft.n(); ++i) {
            ASSERT_NEAR(re[i], re0[i], 1e-12) << log2n << " " << i;
            ASSERT_NEAR(im[i], im0[i], 1e-12) << log2n << " " << i;
        }
    }
}

// The real forms must agree with the complex transform of a signal with zero imaginary
// part, including where the signal is placed, at the sizes the echo path uses.
TEST(KFFT, RealFormsAgreeWithTheComplexTransform) {
    for (int log2n : {9, 17}) {
        KFFT fft(log2n);
        const std::size_t n = fft.n();
        const std::size_t von = n / 4;
        const auto x = zufall(n / 2, 5);
        std::vector<double> re(n, 0.0), im(n, 0.0);
        std::copy(x.begin(), x.end(), re.begin() + static_cast<std::ptrdiff_t>(von));
        fft.vor(re.data(), im.data());

        std::vector<double> sr(n / 2 + 1), si(n / 2 + 1);
        fft.vorReell(x, von, sr.data(), si.data());
        for (std::size_t k = 0; k <= n / 2; ++k) {
            ASSERT_NEAR(sr[k], re[k], 1e-9) << log2n << " " << k;
            ASSERT_NEAR(si[k], im[k], 1e-9) << log2n << " " << k;
        }

        // Bins 0 and n/2 of a real signal are real; whatever their imaginary parts hold,
        // the inverse is the signal.
        si[0] = 123.0;
        si[n / 2] = -7.0;
        std::vector<double> zurueck(n / 2);
        fft.rueckReell(sr.data(), si.data(), zurueck.data(), von, n / 2);
        for (std::size_t i = 0; i < n / 2; ++i) ASSERT_NEAR(zurueck[i], x[i], 1e-12) << i;
    }
}

// A short zero-padded input after a long one must not see the long one's samples.
TEST(KFFT, ZeroPaddingForgetsThePreviousInput) {
    for (int log2n : {9, 17}) {
        KFFT benutzt(log2n), frisch(log2n);
        const std::size_t n = benutzt.n();
        std::vector<double> re(n / 2 + 1), im(n / 2 + 1), re2(n / 2 + 1), im2(n / 2 + 1);
        benutzt.vorReell(zufall(n, 6), 0, re.data(), im.data());
        const auto kurz = zufall(n / 8, 7);
        benutzt.vorReell(kurz, n / 2, re.data(), im.data());
        frisch.vorReell(kurz, n / 2, re2.data(), im2.data());
        EXPECT_EQ(re, re2) << log2n;
        EXPECT_EQ(im, im2) << log2n;
    }
}

// Plans are made once per size under a lock; objects made and used on several threads
// at once give the same bits as one used alone.
TEST(KFFT, ObjectsOnSeveralThreadsAgreeBitForBit) {
    const auto x = zufall(512, 8);
    std::vector<double> er(257), ei(257);
    KFFT(9).vorReell(x, 0, er.data(), ei.data());

    std::vector<int> abweichungen(4, 0);
    std::vector<std::thread> faeden;
    for (int f = 0; f < 4; ++f) {
        faeden.emplace_back([&, f] {
            KFFT gross(16 + f % 2);  // sizes not planned before, made concurrently
            KFFT fft(9);
            std::vector<double> re(257), im(257);
            for (int r = 0; r < 200; ++r) {
                fft.vorReell(x, 0, re.data(), im.data());
                if (re != er || im != ei) ++abweichungen[static_cast<std::size_t>(f)];
            }
        });
    }
    for (auto& t : faeden) t.join();
    for (int a : abweichungen) EXPECT_EQ(a, 0);
}

TEST(KFFT, RefusesLengthsOutsideTheSupportedRange) {
    EXPECT_THROW(KFFT(0), std::invalid_argument);
    EXPECT_THROW(KFFT(KFFT::MAX_LOG2N + 1), std::invalid_argument);
}

}  // namespace
}  // namespace hoerspur
