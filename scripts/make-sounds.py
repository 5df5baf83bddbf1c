#!/usr/bin/env python3
"""Writes the program's five wave files into res/sounds (16-bit mono PCM, 22050 Hz).

Only the standard library is used, and the noise generator is seeded, so running the
script again gives byte-identical files:
    python3 scripts/make-sounds.py [output-folder]
"""
import math
import os
import random
import struct
import sys
import wave

RATE = 22050


def envelope(t, attack, decay_rate):
    """Rises linearly over `attack` seconds, then decays exponentially."""
    if t < attack:
        return t / attack
    return math.exp(-(t - attack) * decay_rate)


def tone(freq, t, partials=((1.0, 1.0),)):
    return sum(a * math.sin(2 * math.pi * freq * m * t) for m, a in partials)


def theme():
    """About box: a rising arpeggio that ends on a held chord, about 1.5 s."""
    notes = [(523.25, 0.00), (659.25, 0.16), (783.99, 0.32), (1046.50, 0.48)]
    length = 1.5
    out = []
    for i in range(int(RATE * length)):
        t = i / RATE
        v = 0.0
        for freq, start in notes:
            if t >= start:
                local = t - start
                v += 0.22 * envelope(local, 0.012, 2.4) * tone(freq, local, ((1, 1.0), (2, 0.25), (3, 0.08)))
        fade = min(1.0, (length - t) / 0.12)  # no click at the end
        out.append(v * fade)
    return out


def chimes():
    """Recent list: two soft bell strokes, 0.9 s."""
    strokes = [(880.0, 0.0), (1174.66, 0.18)]
    bell = ((1, 1.0), (2.76, 0.35), (5.40, 0.12))  # inharmonic partials of a small bell
    out = []
    for i in range(int(RATE * 0.9)):
        t = i / RATE
        v = 0.0
        for freq, start in strokes:
            if t >= start:
                local = t - start
                v += 0.3 * envelope(local, 0.004, 5.5) * tone(freq, local, bell)
        out.append(v * min(1.0, (0.9 - t) / 0.05))
    return out


def click():
    """Previous / next: a short dry tick, 45 ms."""
    rng = random.Random(1046)
    out = []
    for i in range(int(RATE * 0.045)):
        t = i / RATE
        noise = rng.uniform(-1.0, 1.0)
        v = envelope(t, 0.0008, 140.0) * (0.5 * noise + 0.5 * math.sin(2 * math.pi * 2400 * t))
        out.append(0.7 * v)
    return out


def boink():
    """Next customer who owes money: a falling, wobbling spring, 0.4 s."""
    out = []
    phase = 0.0
    for i in range(int(RATE * 0.4)):
        t = i / RATE
        freq = 180 + 520 * math.exp(-t * 9) + 25 * math.sin(2 * math.pi * 18 * t)
        phase += 2 * math.pi * freq / RATE
        v = envelope(t, 0.005, 7.0) * (math.sin(phase) + 0.3 * math.sin(2 * phase))
        out.append(0.45 * v * min(1.0, (0.4 - t) / 0.03))
    return out


def detail():
    """Show Detail: two quick rising blips, 0.28 s."""
    out = []
    for i in range(int(RATE * 0.28)):
        t = i / RATE
        if t < 0.11:
            v = envelope(t, 0.004, 30.0) * tone(660.0, t, ((1, 1.0), (2, 0.2)))
        elif t >= 0.13:
            local = t - 0.13
            v = envelope(local, 0.004, 22.0) * tone(990.0, local, ((1, 1.0), (2, 0.2)))
        else:
            v = 0.0
        out.append(0.4 * v)
    return out


def write(path, samples):
    peak = max(1e-9, max(abs(s) for s in samples))
    scale = min(1.0, 0.89 / peak) * 32767
    frames = b"".join(struct.pack("<h", int(round(s * scale))) for s in samples)
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(frames)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "res", "sounds")
    os.makedirs(folder, exist_ok=True)
    for name, make in [("kxtheme.wav", theme), ("chimes.wav", chimes), ("click.wav", click),
                       ("boink.wav", boink), ("detail.wav", detail)]:
        write(os.path.join(folder, name), make())


if __name__ == "__main__":
    main()
