# Sourced by the demos: synthesises a short call in the current folder.
#
#   fern.wav        the far end as the loudspeaker plays it (16 kHz mono)
#   teile/nah.wav   the near end alone
#   mikro.wav       what the microphone hears: the near end, the far end through a
#                   reverberant room 320 ms later at half level, and a little noise
#
# and sets f1 f2 f3 (far-end sentences), n1 n2 (near-end sentences) and gesamt,
# in seconds. The last far sentence has the near end talking into it.
# Needs espeak-ng, sox and awk. Helpers: dauer, rms, db.

RATE=16000
mkdir -p teile

# One sentence of one voice as 16 kHz mono, peak at -8 dBFS.
sprich() {  # stimme text datei
  espeak-ng -v "$1" -s 165 -w teile/roh.wav "$2"
  sox teile/roh.wav -r $RATE -c 1 -b 16 "$3" gain -n -8
}
dauer() { soxi -D "$1"; }
# The clip placed at `ab` seconds in a track of `gesamt` seconds.
lege() {  # datei ab gesamt ziel
  local rest
  rest=$(awk -v g="$3" -v a="$2" -v d="$(dauer "$1")" 'BEGIN { r = g - a - d; print (r > 0 ? r : 0) }')
  sox "$1" "$4" pad "$2" "$rest" trim 0 "$3"
}
rms() {  # datei ab laenge
  sox "$1" -n trim "$2" "$3" stat 2>&1 | awk '/^RMS +amplitude/ {print $3}'
}
db() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", 20 * log(a / b) / log(10) }'; }

echo "== Stimmen synthetisieren"
sprich de    "Guten Morgen zusammen. Ich fasse kurz zusammen, was wir letzte Woche besprochen haben." teile/f1.wav
sprich de    "Der Termin fuer die Auslieferung bleibt am Freitag. Die Tests laufen seit gestern stabil, und die Messwerte sehen gut aus." teile/f2.wav
sprich de    "Gibt es noch Fragen zum Budget oder zur Planung fuer das naechste Quartal? Sonst machen wir hier Schluss." teile/f3.wav
sprich de+f3 "Ja, danke. Ich haette noch eine Frage zur Auslieferung am Freitag." teile/n1.wav
sprich de+f3 "Das klingt gut, dann machen wir es genau so." teile/n2.wav

# Timeline: far, near, far, far with the near end talking into it.
f1=0.5
n1=$(awk -v a=$f1 -v d="$(dauer teile/f1.wav)" 'BEGIN { print a + d + 0.6 }')
f2=$(awk -v a="$n1" -v d="$(dauer teile/n1.wav)" 'BEGIN { print a + d + 0.6 }')
f3=$(awk -v a="$f2" -v d="$(dauer teile/f2.wav)" 'BEGIN { print a + d + 0.6 }')
n2=$(awk -v a="$f3" 'BEGIN { print a + 2.0 }')
gesamt=$(awk -v a="$f3" -v d="$(dauer teile/f3.wav)" 'BEGIN { print a + d + 1.0 }')

for t in f1 f2 f3; do lege "teile/$t.wav" "${!t}" "$gesamt" "teile/${t}_lage.wav"; done
for t in n1 n2; do lege "teile/$t.wav" "${!t}" "$gesamt" "teile/${t}_lage.wav"; done
sox -m -v 1 teile/f1_lage.wav -v 1 teile/f2_lage.wav -v 1 teile/f3_lage.wav fern.wav
sox -m -v 1 teile/n1_lage.wav -v 1 teile/n2_lage.wav teile/nah.wav

sox fern.wav teile/echo.wav highpass 150 reverb 35 50 40 pad 0.32 0 vol 0.5 trim 0 "$gesamt"
sox -n -r $RATE -c 1 -b 16 teile/rauschen.wav synth "$gesamt" pinknoise vol 0.003
sox -m -v 1 teile/echo.wav -v 1 teile/nah.wav -v 1 teile/rauschen.wav mikro.wav
