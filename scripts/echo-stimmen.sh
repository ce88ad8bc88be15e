#!/usr/bin/env bash
# Speaks the two voices of the echo quality benchmark into ORDNER as 60 s of 16 kHz mono
# 32-bit float samples: fern.f32 (German sentences, the far end) and nah.f32 (English
# sentences, the near end), each sentence peak-normalised to -8 dBFS with 0.4 s after it.
# sox runs without dither and with its fixed seed, so the same tools give the same
# samples every time.
# Needs espeak-ng and sox (scripts/install-deps).
#
#   scripts/echo-stimmen.sh ORDNER
set -euo pipefail
ordner=${1:?usage: echo-stimmen.sh ORDNER}
for werkzeug in espeak-ng sox; do
  command -v "$werkzeug" >/dev/null || { echo "echo-stimmen: $werkzeug fehlt" >&2; exit 1; }
done
mkdir -p "$ordner"
arbeit=$(mktemp -d)
trap 'rm -rf "$arbeit"' EXIT

# stimme ausgabe saetze...
sprich() {
  local stimme=$1 ziel=$2
  shift 2
  local teile=() i=0
  for satz in "$@"; do
    i=$((i + 1))
    espeak-ng -v "$stimme" -s 165 -w "$arbeit/roh.wav" "$satz"
    sox -R -D "$arbeit/roh.wav" -r 16000 -c 1 -b 16 "$arbeit/$stimme$i.wav" gain -n -8 pad 0 0.4
    teile+=("$arbeit/$stimme$i.wav")
  done
  # Repeat the sentences until a minute is filled.
  sox -R -D "${teile[@]}" "${teile[@]}" "${teile[@]}" "${teile[@]}" "$arbeit/lang.wav"
  sox -R -D "$arbeit/lang.wav" -t f32 -e floating-point "$ziel" trim 0 60
}

sprich de "$ordner/fern.f32" \
  "Guten Morgen zusammen. Ich fasse kurz zusammen, was wir letzte Woche besprochen haben." \
  "Der Termin fuer die Auslieferung bleibt am Freitag. Die Tests laufen seit gestern stabil, und die Messwerte sehen gut aus." \
  "Gibt es noch Fragen zum Budget oder zur Planung fuer das naechste Quartal? Sonst machen wir hier Schluss." \
  "Wir haben im letzten Monat drei neue Kunden gewonnen, zwei davon in Oesterreich." \
  "Die Auswertung der Umfrage zeigt, dass die meisten Nutzer mit der neuen Oberflaeche zufrieden sind." \
  "Bitte schickt mir eure Berichte bis Mittwoch, damit ich sie vor der Sitzung lesen kann."
sprich en "$ordner/nah.f32" \
  "Thanks, that sounds good. I have one question about the delivery on Friday." \
  "Could we move the review to Thursday afternoon instead?" \
  "I think the numbers from last quarter look better than we expected." \
  "Let me check with the team and get back to you tomorrow morning." \
  "Yes, I agree, we should keep the budget as it is for now."
