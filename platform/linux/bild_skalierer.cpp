#include "platform/linux/bild_skalierer.h"

#include <algorithm>
#include <cmath>

namespace hoerspur {

namespace {

// Weights in 1/256: a source byte times a weight fits 16 bits, and so does a
// row of them summed (the weights of one position add up to exactly 256), so
// the vertical pass runs on 16-bit lanes without widening.
constexpr int kGewichtBits = 8;
constexpr int kEins = 1 << kGewichtBits;

// One output row from the vertically combined row (values × 256): `Taps`
// neighbours per pixel, unrolled for the usual counts.
template <int Taps>
void waagerecht(const std::uint16_t* zeile, const int* start, const std::uint16_t* gewichte,
                int taps, int breite, std::uint8_t* z) {
    constexpr int kSchub = 2 * kGewichtBits;
    constexpr std::uint32_t kRund = 1u << (kSchub - 1);
    const int n = Taps > 0 ? Taps : taps;
    for (int x = 0; x < breite; ++x, z += 4) {
        const std::uint16_t* g = gewichte + static_cast<std::ptrdiff_t>(x) * n;
        const std::uint16_t* s = zeile + static_cast<std::ptrdiff_t>(start[x]) * 4;
        std::uint32_t b = 0, gr = 0, r = 0;
        for (int t = 0; t < n; ++t, s += 4) {
            const std::uint32_t w = g[t];
            b += s[0] * w;
            gr += s[1] * w;
            r += s[2] * w;
        }
        z[0] = static_cast<std::uint8_t>((b + kRund) >> kSchub);
        z[1] = static_cast<std::uint8_t>((gr + kRund) >> kSchub);
        z[2] = static_cast<std::uint8_t>((r + kRund) >> kSchub);
        z[3] = 255;
    }
}

}  // namespace

void BildSkalierer::berechne(Achse& a, int quelle, int ziel) {
    if (a.quelle == quelle && a.ziel == ziel) return;
    a.quelle = quelle;
    a.ziel = ziel;
    const double f = static_cast<double>(quelle) / ziel;
    // Shrinking: an output pixel covers f source pixels, touching at most
    // ceil(f) + 1 of them. Growing: two neighbours.
    const int roh = f > 1.0 ? static_cast<int>(std::ceil(f)) + 1 : 2;
    a.taps = std::min(roh, quelle);
    a.start.assign(static_cast<std::size_t>(ziel), 0);
    a.gewichte.assign(static_cast<std::size_t>(ziel) * static_cast<std::size_t>(a.taps), 0);
    std::vector<double> w(static_cast<std::size_t>(roh));
    std::vector<double> gefaltet(static_cast<std::size_t>(a.taps));
    for (int i = 0; i < ziel; ++i) {
        int start = 0;
        if (f > 1.0) {
            const double von = i * f, bis = (i + 1) * f;
            start = static_cast<int>(std::floor(von));
            for (int t = 0; t < roh; ++t) {
                const double links = std::max(von, static_cast<double>(start + t));
                const double rechts = std::min(bis, static_cast<double>(start + t + 1));
                w[static_cast<std::size_t>(t)] = std::max(0.0, rechts - links) / f;
            }
        } else {
            const double mitte = (i + 0.5) * f - 0.5;
            start = static_cast<int>(std::floor(mitte));
            w[0] = 1.0 - (mitte - start);
            w[1] = mitte - start;
        }
        // Taps beyond the picture's edges count for the edge pixel.
        const int anfang = std::clamp(start, 0, quelle - a.taps);
        std::fill(gefaltet.begin(), gefaltet.end(), 0.0);
        for (int t = 0; t < roh; ++t) {
            const int p = std::clamp(start + t, 0, quelle - 1);
            gefaltet[static_cast<std::size_t>(p - anfang)] += w[static_cast<std::size_t>(t)];
        }
        int summe = 0;
        std::size_t groesster = 0;
        std::uint16_t* g =
            &a.gewichte[static_cast<std::size_t>(i) * static_cast<std::size_t>(a.taps)];
        for (std::size_t t = 0; t < gefaltet.size(); ++t) {
            g[t] = static_cast<std::uint16_t>(std::lround(gefaltet[t] * kEins));
            summe += g[t];
            if (gefaltet[t] > gefaltet[groesster]) groesster = t;
        }
        // Exactly one in fixed point, so flat colours stay exact.
        g[groesster] = static_cast<std::uint16_t>(g[groesster] + (kEins - summe));
        a.start[static_cast<std::size_t>(i)] = anfang;
    }
}

void BildSkalierer::skaliere(const BgraBild& quelle, BgraPuffer& ziel, int zielX, int zielY,
                             int zielBreite, int zielHoehe) {
    berechne(waagerecht_, quelle.breite, zielBreite);
    berechne(senkrecht_, quelle.hoehe, zielHoehe);
    const std::size_t werte = static_cast<std::size_t>(quelle.breite) * 4;
    if (zeile_.size() < werte) zeile_.resize(werte);
    std::uint16_t* zeile = zeile_.data();

    for (int y = 0; y < zielHoehe; ++y) {
        // Vertical: the covered source rows into one row of values × 256.
        const int start = senkrecht_.start[static_cast<std::size_t>(y)];
        const std::uint16_t* g =
            &senkrecht_
                 .gewichte[static_cast<std::size_t>(y) * static_cast<std::size_t>(senkrecht_.taps)];
        {
            const std::uint8_t* q = quelle.zeile(start);
            const auto w = static_cast<std::uint16_t>(g[0]);
            for (std::size_t i = 0; i < werte; ++i) zeile[i] = static_cast<std::uint16_t>(q[i] * w);
        }
        for (int t = 1; t < senkrecht_.taps; ++t) {
            const auto w = static_cast<std::uint16_t>(g[t]);
            if (w == 0) continue;
            const std::uint8_t* q = quelle.zeile(start + t);
            for (std::size_t i = 0; i < werte; ++i) {
                zeile[i] = static_cast<std::uint16_t>(zeile[i] + q[i] * w);
            }
        }
        std::uint8_t* z = ziel.zeile(zielY + y) + static_cast<std::ptrdiff_t>(zielX) * 4;
        const int* st = waagerecht_.start.data();
        const std::uint16_t* gw = waagerecht_.gewichte.data();
        switch (waagerecht_.taps) {
            case 1:
                waagerecht<1>(zeile, st, gw, 1, zielBreite, z);
                break;
            case 2:
                waagerecht<2>(zeile, st, gw, 2, zielBreite, z);
                break;
            case 3:
                waagerecht<3>(zeile, st, gw, 3, zielBreite, z);
                break;
            case 4:
                waagerecht<4>(zeile, st, gw, 4, zielBreite, z);
                break;
            default:
                waagerecht<0>(zeile, st, gw, waagerecht_.taps, zielBreite, z);
                break;
        }
    }
}

}  // namespace hoerspur
