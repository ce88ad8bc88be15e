#!/usr/bin/python3
# Draws the echo quality curves that bench_echo_qualitaet writes: one panel per call,
# echo attenuation per second in far-end-only stretches for the linear filter alone and
# with the postfilter; grey bands where the near end speaks, dashed lines where the
# true echo delay changes, dotted lines where the echo path realigned.
#
#   scripts/echo-kurven.py KURVEN.csv EREIGNISSE.csv BILD.png
#
# Uses Debian's python3-matplotlib (hence /usr/bin/python3 rather than whatever python3
# comes first on the path).
import csv
import math
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

TITEL = {
    "v40": "delay 40 ms",
    "v250": "delay 250 ms",
    "v600": "delay 600 ms",
    "v750": "delay 750 ms",
    "doppelt": "delay 40 ms, double talk",
    "wechsel": "delay 250 -> 600 -> 500 ms",
    "rauschen": "delay 250 ms, noise -55 dBFS, double talk",
    "periodisch": "delay 40 ms, periodic pulse-train voice",
}


def zahl(text):
    return float(text) if text else math.nan


def main():
    if len(sys.argv) != 4:
        sys.exit("usage: echo-kurven.py KURVEN.csv EREIGNISSE.csv BILD.png")
    kurven = {}
    with open(sys.argv[1], newline="") as f:
        for zeile in csv.DictReader(f):
            k = kurven.setdefault(zeile["szenario"], ([], [], []))
            k[0].append(int(zeile["sekunde"]) - 0.5)
            k[1].append(zahl(zeile["linear_db"]))
            k[2].append(zahl(zeile["nachfilter_db"]))
    ereignisse = {}
    with open(sys.argv[2], newline="") as f:
        for zeile in csv.DictReader(f):
            ereignisse.setdefault(zeile["szenario"], []).append(
                (zeile["art"], float(zeile["ab_s"]), float(zeile["bis_s"])))

    namen = list(kurven)
    spalten = 2
    reihen = math.ceil(len(namen) / spalten)
    fig, achsen = plt.subplots(reihen, spalten, figsize=(13, 3.1 * reihen), sharex=True,
                               sharey=True, squeeze=False)
    for i, name in enumerate(namen):
        ax = achsen[i // spalten][i % spalten]
        t, lin, nf = kurven[name]
        for art, ab, bis in ereignisse.get(name, []):
            if art == "nah":
                ax.axvspan(ab, bis, color="0.85", zorder=0)
            elif art == "verzoegerung":
                ax.axvline(ab, color="black", linestyle="--", linewidth=1)
            elif art == "versatz":
                ax.axvline(ab, color="tab:red", linestyle=":", linewidth=1.2)
        ax.axhline(20, color="0.5", linewidth=0.8)
        ax.plot(t, lin, marker=".", color="tab:blue", label="linear filter")
        ax.plot(t, nf, marker=".", color="tab:orange", label="with postfilter")
        ax.set_title(TITEL.get(name, name), fontsize=10)
        ax.set_ylim(-10, 100)
        ax.set_xlim(0, max(t) + 0.5)
        ax.grid(True, alpha=0.3)
        if i % spalten == 0:
            ax.set_ylabel("attenuation dB")
    for j in range(len(namen), reihen * spalten):
        achsen[j // spalten][j % spalten].axis("off")
    letzte = achsen[(len(namen) - 1) // spalten][(len(namen) - 1) % spalten]
    for ax in achsen[-1]:
        ax.set_xlabel("seconds")
        ax.xaxis.set_tick_params(labelbottom=True)
    griffe, beschriftungen = letzte.get_legend_handles_labels()
    griffe += [plt.Rectangle((0, 0), 1, 1, color="0.85"),
               plt.Line2D([], [], color="black", linestyle="--"),
               plt.Line2D([], [], color="tab:red", linestyle=":")]
    beschriftungen += ["near end speaks", "echo delay changes", "echo path realigns"]
    fig.legend(griffe, beschriftungen, loc="lower center", ncol=len(griffe), fontsize=10,
               frameon=False)
    fig.suptitle("Echo attenuation per second in far-end-only stretches (20 dB line in grey; "
                 "negative: the output is louder than the microphone)")
    fig.tight_layout(rect=(0, 0.035, 1, 1))
    fig.savefig(sys.argv[3], dpi=90)


if __name__ == "__main__":
    main()
