#!/usr/bin/env python3
"""Measures a live demo recording: how loud the far end's echo is in the
microphone before (mikro_roh.wav) and after cancellation (the "me" chunks), and
what happens to the near end.

usage: demo-auswertung.py AUFNAHME_ORDNER EREIGNISSE FERN_WAV f1 f2 dauer_f2 n1 dauer_n1
"""
import json
import math
import struct
import sys
import wave

RATE = 16000


def lies(pfad):
    with wave.open(pfad, "rb") as w:
        daten = w.readframes(w.getnframes())
        kanaele = w.getnchannels()
    werte = struct.unpack("<%dh" % (len(daten) // 2), daten)
    return [x / 32768.0 for x in werte[::kanaele]]


def strom(chunks):
    s = []
    for c in chunks:
        anfang = round(c["t0"] * RATE)
        if len(s) < anfang:
            s.extend([0.0] * (anfang - len(s)))
        del s[anfang:]  # t0 carries 10 ms resolution
        s.extend(lies(c["path"]))
    return s


def rms(s, ab, dauer):
    a, b = int(ab * RATE), int((ab + dauer) * RATE)
    stueck = s[a:b] + [0.0] * max(0, b - max(a, len(s)))
    return math.sqrt(sum(x * x for x in stueck) / max(1, len(stueck)))


def db(a, b):
    if b <= 0:
        return float("inf")
    return 20 * math.log10(a / b) if a > 0 else float("-inf")


def main():
    ordner, ereignisse, fern_wav = sys.argv[1:4]
    f1, f2, l2, n1, l1 = map(float, sys.argv[4:9])
    zeilen = [json.loads(z) for z in open(ereignisse) if z.strip()]
    them = strom([z for z in zeilen if z.get("channel") == "them" and "chunk" in z])
    me = strom([z for z in zeilen if z.get("channel") == "me" and "chunk" in z])
    roh = lies(ordner + "/mikro_roh.wav")

    # Where the call starts on the recording's timeline: the first loud 10 ms of "them".
    einsatz = None
    for k in range(0, len(them) - 160, 160):
        if rms(them, k / RATE, 0.01) > 0.01:
            einsatz = k / RATE
            break
    if einsatz is None:
        print("Auswertung: im Kanal them ist kein Gespraech angekommen")
        return 1
    versatz = einsatz - f1
    print("Gespraech beginnt %.2f s nach dem Start der Aufnahme" % versatz)

    vorher = rms(roh, versatz + f2, l2)
    nachher = rms(me, versatz + f2, l2)
    if nachher == 0:
        print("Echo, Fernsprecher allein (%.1f s): im Mikrofon %.1f dBFS, nach der Echo-"
              "Unterdrueckung nichts mehr (Chunks ohne Sprache verworfen)" % (l2, db(vorher, 1)))
    else:
        print("Echo, Fernsprecher allein (%.1f s): im Mikrofon %.1f dBFS, danach %.1f dBFS, "
              "um %.1f dB gedaempft" % (l2, db(vorher, 1), db(nachher, 1), db(vorher, nachher)))
    nah_roh = rms(roh, versatz + n1, l1)
    nah_me = rms(me, versatz + n1, l1)
    print("Nahsprecher allein (%.1f s): Pegel nach der Unterdrueckung %+.1f dB gegenueber dem "
          "Mikrofon" % (l1, db(nah_me, nah_roh)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
