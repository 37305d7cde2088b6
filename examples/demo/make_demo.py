#!/usr/bin/env python3
"""Write demo.txt: an original demo tune for the PSG, as a text register log.

Usage:
    python3 make_demo.py

The log is written to demo.txt in the same folder as this script. The
output is fully deterministic (no randomness at all), so running the
script twice gives byte-identical files.

The tune
--------
D minor, 124 BPM, 4/4, sixteenth-note grid. About 64 seconds:

    bars  0-3   intro     arpeggiated chords on A, hats creep in,
                          envelope bass enters in bar 2, snare fill
    bars  4-11  theme     melody with vibrato on A, sawtooth envelope
                          bass on B, full drum kit on C
    bars 12-19  bridge    new progression, higher melody, "sync" bass
                          (tone + envelope on B), busier hats
    bars 20-27  reprise   theme returns with a varied melody
    bars 28-31  coda      cadence with a ritardando, final chord with a
                          hardware-envelope fade on B and a long crash

Channel roles (the chip pans A left, B centre, C right):
    A  melody / intro arpeggio (square tone, volume-shaped, vibrato)
    B  bass on the envelope generator at audio rate
    C  drums: kick and snare mix tone with noise, hats are pure noise

Log format
----------
First line "MOVA-TXT", then one "TIME:RR:VV" line per register write:
TIME is the absolute time in chip ticks (1 tick = 1 us at 1 MHz),
RR the register and VV the value, both as two uppercase hex digits.
The last line only marks the end of the song, so the tune finishes
with a final "everything silent" write at the end time.
"""

import math
import os
import re

# ---------------------------------------------------------------------------
# Chip facts
# ---------------------------------------------------------------------------

CLOCK = 1_000_000           # chip clock in Hz: one log tick is one microsecond
MS = 1000                   # ticks per millisecond

A, B, C = 0, 1, 2           # channel indices: A = left, B = centre, C = right

R_FINE = (0, 2, 4)          # tone period, low 8 bits, for A/B/C
R_COARSE = (1, 3, 5)        # tone period, high 4 bits
R_NOISE = 6                 # noise period 1..31 (1 = brightest hiss)
R_MIXER = 7                 # bits 0-2: tone OFF, bits 3-5: noise OFF
R_AMP = (8, 9, 10)          # volume 0..15, or AMP_ENVELOPE
R_ENV_FINE = 11             # envelope period, low byte
R_ENV_COARSE = 12           # envelope period, high byte
R_ENV_SHAPE = 13            # envelope shape 0..15
NUM_REGS = 14               # registers 14/15 are I/O ports, never written

AMP_ENVELOPE = 0x10         # amplitude bit 4: follow the envelope generator

# Envelope shapes used in this tune.
SHAPE_FALL_ONCE = 0         # \_____  one fall, then silence (used as a fade)
SHAPE_SAW_DOWN = 8          # \\\\\\  repeating falling sawtooth
SHAPE_SAW_UP = 12           # //////  repeating rising sawtooth

# Largest value each register holds; used by the self-check at the end.
REG_MAX = {0: 0xFF, 1: 0x0F, 2: 0xFF, 3: 0x0F, 4: 0xFF, 5: 0x0F,
           6: 0x1F, 7: 0x3F, 8: 0x1F, 9: 0x1F, 10: 0x1F,
           11: 0xFF, 12: 0xFF, 13: 0x0F}


# ---------------------------------------------------------------------------
# Pitch helpers
# ---------------------------------------------------------------------------

NOTE_OFFSETS = {"C": 0, "D": 2, "E": 4, "F": 5, "G": 7, "A": 9, "B": 11}


def note_number(name):
    """'C#5' / 'Bb4' / 'D2' -> MIDI-style note number (A4 = 69)."""
    m = re.fullmatch(r"([A-G])([#b]?)(\d)", name)
    if not m:
        raise ValueError("bad note name: %r" % name)
    letter, accidental, octave = m.groups()
    shift = {"#": 1, "b": -1, "": 0}[accidental]
    return 12 * (int(octave) + 1) + NOTE_OFFSETS[letter] + shift


def note_freq(name):
    """Equal temperament, A4 = 440 Hz."""
    return 440.0 * 2.0 ** ((note_number(name) - 69) / 12.0)


def tone_period(name):
    """Square-wave channel: f = CLOCK / (16 * TP), TP is 12 bits."""
    return max(1, min(0xFFF, round(CLOCK / (16.0 * note_freq(name)))))


def saw_env_period(name):
    """Envelope as an oscillator with a sawtooth shape (8 or 12).

    One envelope step takes 16*EP ticks and a sawtooth is 16 steps, so
    its pitch is CLOCK / (256 * EP). EP is an integer, so low notes are
    the most accurate: every bass note below sits in E1..G2, where the
    rounding error stays within about 15 cents.
    """
    return max(1, min(0xFFFF, round(CLOCK / (256.0 * note_freq(name)))))


# ---------------------------------------------------------------------------
# Timeline: collects writes, then orders them and drops redundant ones
# ---------------------------------------------------------------------------

class Timeline:
    """A list of timed register writes for one song.

    Events keep their insertion order when they share a time stamp.
    Mixer changes are kept per channel and folded into R7 when the log is
    rendered, so the drum code never has to know what the other channels
    are doing with the mixer.
    """

    def __init__(self):
        self._events = []

    def _add(self, t, kind, args):
        self._events.append((int(round(t)), len(self._events), kind, args))

    def write(self, t, reg, value, force=False):
        """Write one register. Unforced writes of an unchanged value are
        dropped when rendering."""
        self._add(t, "reg", (reg, value, force))

    def mixer(self, t, ch, tone, noise):
        """Enable (True) or disable tone and noise on one channel."""
        self._add(t, "mix", (ch, tone, noise))

    def tone(self, t, ch, period, force_fine=False):
        """Set a 12-bit tone period (fine byte first, then coarse nibble).

        force_fine keeps the fine write even when its value is unchanged;
        the vibrato uses it so the LFO ticks at a steady rate in the log.
        """
        self.write(t, R_FINE[ch], period & 0xFF, force=force_fine)
        self.write(t, R_COARSE[ch], (period >> 8) & 0x0F)

    def volume(self, t, ch, level):
        self.write(t, R_AMP[ch], level)

    def envelope(self, t, period, shape):
        """Set envelope period and shape. Each of these three writes restarts
        the envelope, which is exactly what a new bass note wants, so they
        are always written (never deduplicated)."""
        self.write(t, R_ENV_FINE, period & 0xFF, force=True)
        self.write(t, R_ENV_COARSE, (period >> 8) & 0xFF, force=True)
        self.write(t, R_ENV_SHAPE, shape, force=True)

    def render(self):
        """Return the final list of (time, reg, value) writes."""
        regs = [None] * NUM_REGS
        tone_on = [False] * 3
        noise_on = [False] * 3
        out = []
        for t, _, kind, args in sorted(self._events, key=lambda e: (e[0], e[1])):
            if kind == "mix":
                ch, tone, noise = args
                tone_on[ch], noise_on[ch] = tone, noise
                reg, force = R_MIXER, False
                # A set bit switches the source OFF.
                value = 0
                for c in range(3):
                    if not tone_on[c]:
                        value |= 1 << c
                    if not noise_on[c]:
                        value |= 1 << (c + 3)
            else:
                reg, value, force = args
            if force or regs[reg] != value:
                regs[reg] = value
                out.append((t, reg, value))
        return out


# ---------------------------------------------------------------------------
# The arrangement
# ---------------------------------------------------------------------------

BPM = 124
STEPS_PER_BAR = 16          # sixteenth notes
RITARD_BAR = 30             # the last full bar slows down ...
RITARD_END_BPM = 92         # ... to about this tempo
TAIL = 3_600 * MS           # how long the final chord rings

# Chord progressions (D minor). "Gm/A" means two beats of each.
INTRO_CHORDS = ["Dm", "Bb", "Gm", "A"]
THEME_CHORDS = ["Dm", "Bb", "Gm", "A", "Dm", "Bb", "Gm/A", "Dm"]
BRIDGE_CHORDS = ["Bb", "F", "C", "Dm", "Bb", "F", "Gm", "A"]
CODA_CHORDS = ["Bb", "Gm", "A"]          # then the final D minor chord

# Four chord tones for the intro arpeggio, low to high.
ARP_TONES = {
    "Dm": ["D4", "F4", "A4", "D5"],
    "Bb": ["D4", "F4", "Bb4", "D5"],
    "Gm": ["D4", "G4", "Bb4", "D5"],
    "A":  ["E4", "A4", "C#5", "E5"],
}
ARP_ORDER = [0, 1, 2, 3, 2, 1, 0, 1, 2, 3, 2, 1, 2, 3, 2, 3]

# Bass notes per chord: root and a fifth (mostly below the root).
BASS_TONES = {
    "Dm": {"R": "D2", "F": "A1"},
    "Bb": {"R": "Bb1", "F": "F2"},
    "Gm": {"R": "G1", "F": "D2"},
    "A":  {"R": "A1", "F": "E2"},
    "F":  {"R": "F1", "F": "C2"},
    "C":  {"R": "C2", "F": "G1"},
}

# Bass rhythms: (start step, length in steps, R = root / F = fifth).
INTRO_BASS = [(0, 8, "R"), (8, 6, "R"), (14, 2, "F")]
THEME_BASS = [(0, 3, "R"), (3, 1, "R"), (4, 2, "F"), (6, 2, "R"),
              (8, 2, "R"), (10, 1, "R"), (11, 1, "R"), (12, 2, "F"),
              (14, 2, "R")]
BRIDGE_BASS = [(0, 6, "R"), (6, 2, "R"), (8, 4, "F"), (12, 2, "R"),
               (14, 2, "F")]
CODA_BASS = [(0, 4, "R"), (4, 4, "R"), (8, 4, "F"), (12, 4, "R")]

# Melody, one string per bar: NOTE:LENGTH in sixteenths, "r" is a rest.
THEME_MELODY = [
    "A4:4 D5:2 E5:2 F5:6 E5:2",
    "D5:3 C5:1 D5:4 Bb4:8",
    "G4:2 Bb4:2 D5:4 C5:2 Bb4:2 A4:4",
    "E5:12 C#5:4",
    "A4:4 D5:2 E5:2 F5:4 G5:2 F5:2",
    "A5:6 G5:2 F5:4 D5:4",
    "G5:4 F5:2 D5:2 E5:4 A4:2 C#5:2",
    "D5:12 r:4",
]
BRIDGE_MELODY = [
    "F5:8 D5:4 F5:4",
    "A5:10 G5:2 F5:4",
    "G5:6 E5:2 C5:8",
    "D5:12 F5:2 E5:2",
    "F5:4 Bb5:8 A5:2 G5:2",
    "A5:12 G5:2 F5:2",
    "G5:4 F5:2 G5:2 Bb5:6 A5:2",
    "A5:8 E5:4 C#5:4",
]
REPRISE_MELODY = [
    "A4:2 A4:2 D5:2 E5:2 F5:4 A5:4",
    "G5:2 F5:2 D5:4 Bb4:8",
    "G4:2 Bb4:2 D5:2 G5:2 F5:2 D5:2 Bb4:2 A4:2",
    "E5:10 G5:2 F5:2 E5:2",
    "D5:4 F5:2 A5:2 A5:4 G5:2 F5:2",
    "F5:6 D5:2 Bb5:8",
    "G5:4 Bb5:2 G5:2 E5:4 C#5:2 A4:2",
    "D5:12 r:4",
]
CODA_MELODY = [
    "F5:6 E5:2 D5:8",
    "Bb4:6 C5:2 D5:8",
    "E5:8 C#5:4 E5:4",
]
FINAL_MELODY_NOTE = "D5"
FINAL_BASS_NOTE = "D2"

# Drums, one character per sixteenth:
#   K kick   S snare   s ghost snare   h closed hat   o open hat
#   C crash (with a kick thump underneath)   . nothing
INTRO_DRUMS = ["................",
               "..h...h...h...h.",
               "K.h...h.K.h...h.",
               "K.h.S.h.K.h.SsSS"]
GROOVE_1 = "K.h.S.h.K.hKS.ho"
GROOVE_2 = "K.h.S.hsK.h.S.hh"
FILL_1 = "K.h.S.h.K.S.SsSS"
DRIVE_1 = "K.hhShhhK.hKShhh"
DRIVE_2 = "K.hhShhhK.hKShho"
FILL_2 = "K.hhShhhKsSsSSSS"
THEME_DRUMS = [GROOVE_1, GROOVE_2, GROOVE_1, GROOVE_2,
               GROOVE_1, GROOVE_2, GROOVE_1, FILL_1]
BRIDGE_DRUMS = ["C.hhShhhK.hKShho", DRIVE_1, DRIVE_2, DRIVE_1,
                DRIVE_1, DRIVE_2, DRIVE_1, FILL_2]
REPRISE_DRUMS = ["C.h.S.h.K.hKS.ho", GROOVE_2, GROOVE_1, GROOVE_2,
                 GROOVE_1, GROOVE_2, GROOVE_1, FILL_1]
CODA_DRUMS = ["C.h.S.h.K.hKS.h.", GROOVE_1, "K...S...K.S.SSSS"]


class Bar:
    """Everything that happens in one bar of the arrangement."""

    def __init__(self, chord, drums, melody=None, arp_peak=None,
                 bass=None, bass_shape=SHAPE_SAW_UP, bass_sync=False):
        self.chord = chord            # e.g. "Dm" or "Gm/A"
        self.drums = drums            # 16-character pattern
        self.melody = melody          # melody string, or None
        self.arp_peak = arp_peak      # intro arpeggio loudness, or None
        self.bass = bass              # bass rhythm, or None
        self.bass_shape = bass_shape  # envelope shape for the bass
        self.bass_sync = bass_sync    # also run the tone on the bass channel


def arrange():
    bars = []
    # Intro: the arpeggio grows louder bar by bar; bass joins in bar 2.
    for i, chord in enumerate(INTRO_CHORDS):
        bars.append(Bar(chord, INTRO_DRUMS[i], arp_peak=9 + i,
                        bass=INTRO_BASS if i >= 2 else None))
    # Theme: pure envelope sawtooth bass (tone and noise off on B).
    for i, chord in enumerate(THEME_CHORDS):
        bars.append(Bar(chord, THEME_DRUMS[i], melody=THEME_MELODY[i],
                        bass=THEME_BASS))
    # Bridge: falling sawtooth gated by B's own tone at the same pitch.
    for i, chord in enumerate(BRIDGE_CHORDS):
        bars.append(Bar(chord, BRIDGE_DRUMS[i], melody=BRIDGE_MELODY[i],
                        bass=BRIDGE_BASS, bass_shape=SHAPE_SAW_DOWN,
                        bass_sync=True))
    # Reprise: back to the theme sound.
    for i, chord in enumerate(THEME_CHORDS):
        bars.append(Bar(chord, REPRISE_DRUMS[i], melody=REPRISE_MELODY[i],
                        bass=THEME_BASS))
    # Coda: two bars of groove, then the slowing cadence bar.
    for i, chord in enumerate(CODA_CHORDS):
        bars.append(Bar(chord, CODA_DRUMS[i], melody=CODA_MELODY[i],
                        bass=CODA_BASS if i == 2 else THEME_BASS))
    assert len(bars) == RITARD_BAR + 1
    return bars


def build_grid(num_bars):
    """Start time (ticks, float) of every sixteenth, plus one past the end.

    The tempo is constant except in RITARD_BAR, where it eases down
    linearly towards RITARD_END_BPM.
    """
    times = [0.0]
    for step in range(num_bars * STEPS_PER_BAR):
        bar, pos = divmod(step, STEPS_PER_BAR)
        bpm = BPM
        if bar == RITARD_BAR:
            bpm = BPM - (BPM - RITARD_END_BPM) * (pos + 0.5) / STEPS_PER_BAR
        times.append(times[-1] + 60.0 * CLOCK / bpm / 4.0)
    return times


def chord_at(bars, step):
    """Chord name sounding at an absolute step ("Gm/A" splits the bar)."""
    bar, pos = divmod(step, STEPS_PER_BAR)
    names = bars[bar].chord.split("/")
    return names[pos * len(names) // STEPS_PER_BAR]


# ---------------------------------------------------------------------------
# Channel A: melody and intro arpeggio
# ---------------------------------------------------------------------------

VIB_RATE_HZ = 5.5           # LFO speed of the vibrato
VIB_STEP = 15 * MS          # rewrite the fine period this often
VIB_DELAY = 150 * MS        # notes start straight, vibrato comes in later
VIB_FADE_IN = 200 * MS      # vibrato depth ramps up over this time
VIB_MIN_NOTE = 300 * MS     # shorter notes get no vibrato


def vibrato_depth(period):
    """Depth in period units: about +/-15..25 cents, 1..3 steps."""
    return max(1, min(3, round(period * 0.012)))


def add_vibrato(tl, ch, t_start, t_stop, period):
    """Sine LFO on the tone period, written every VIB_STEP ticks.

    The fine register is rewritten on every LFO step (even when the
    rounded offset repeats); the coarse nibble only if the wobble crosses
    a multiple of 256 (unchanged values are dropped by the Timeline).
    """
    depth = vibrato_depth(period)
    t = t_start
    while t < t_stop:
        age = t - t_start
        ramp = min(1.0, (age + VIB_STEP) / VIB_FADE_IN)
        phase = 2.0 * math.pi * VIB_RATE_HZ * age / CLOCK
        tl.tone(t, ch, period + round(depth * ramp * math.sin(phase)),
                force_fine=True)
        t += VIB_STEP


def melody_note(tl, t0, t1, name, legato_next, peak=14):
    """One lead note on channel A with a volume envelope made of writes.

    Quick attack (three steps in 8 ms), a small decay to a sustain level,
    a slow sag on long notes, then a release just before the next note:
    a short dip when the next note follows directly (so repeated notes
    are still heard), a full fade to silence before a rest.
    """
    ch = A
    period = tone_period(name)
    tl.tone(t0, ch, period)

    shape = [(0, peak - 4), (4 * MS, peak - 1), (8 * MS, peak),
             (45 * MS, peak - 1), (100 * MS, peak - 2)]
    dt, level = 400 * MS, peak - 3
    while level >= peak - 5:
        shape.append((dt, level))
        dt += 300 * MS
        level -= 1

    release = (t1 - t0) - (12 * MS if legato_next else 28 * MS)
    last = shape[0][1]
    for dt, level in shape:
        if dt >= release:
            break
        tl.volume(t0 + dt, ch, level)
        last = level

    if t1 - t0 >= VIB_MIN_NOTE:
        add_vibrato(tl, ch, t0 + VIB_DELAY, t0 + release, period)

    if legato_next:
        tl.volume(t1 - 12 * MS, ch, max(0, last - 3))
    else:
        tl.volume(t1 - 28 * MS, ch, max(0, last - 3))
        tl.volume(t1 - 14 * MS, ch, max(0, last - 7))
        tl.volume(t1, ch, 0)


def parse_melody(bars):
    """Flatten the per-bar melody strings into (step, length, note) items."""
    notes = []
    for index, bar in enumerate(bars):
        if bar.melody is None:
            continue
        step = index * STEPS_PER_BAR
        total = 0
        for token in bar.melody.split():
            name, length = token.split(":")
            length = int(length)
            if name != "r":
                notes.append((step + total, length, name))
            total += length
        assert total == STEPS_PER_BAR, "bar %d has %d steps" % (index, total)
    return notes


def compose_melody(tl, bars, grid):
    notes = parse_melody(bars)
    final_step = len(bars) * STEPS_PER_BAR
    for i, (step, length, name) in enumerate(notes):
        end = step + length
        next_step = notes[i + 1][0] if i + 1 < len(notes) else final_step
        melody_note(tl, grid[step], grid[end], name,
                    legato_next=(next_step == end))


def compose_arpeggio(tl, bars, grid):
    """Intro: broken chords, one pluck per sixteenth, quick volume decay."""
    for index, bar in enumerate(bars):
        if bar.arp_peak is None:
            continue
        for pos in range(STEPS_PER_BAR):
            step = index * STEPS_PER_BAR + pos
            t0, t1 = grid[step], grid[step + 1]
            tones = ARP_TONES[chord_at(bars, step)]
            tl.tone(t0, A, tone_period(tones[ARP_ORDER[pos]]))
            p = bar.arp_peak
            for dt, level in ((0, p), (20 * MS, p - 2), (45 * MS, p - 4),
                              (75 * MS, p - 6), (105 * MS, p - 7)):
                if t0 + dt < t1:
                    tl.volume(t0 + dt, A, level)


# ---------------------------------------------------------------------------
# Channel B: bass on the envelope generator
# ---------------------------------------------------------------------------

def bass_note(tl, t0, t1, name, shape, sync):
    """One bass note: the envelope, repeating fast, *is* the waveform.

    B's amplitude register is set to AMP_ENVELOPE, and EP is chosen so
    that one sawtooth lasts one period of the note. Writing R11/R12/R13
    restarts the envelope, so every note starts on a fresh ramp.

    With sync=True B's square tone also runs, with TP = 16 * EP: its
    period (16 * TP ticks) equals the sawtooth's (256 * EP ticks), so the
    tone gates half of each ramp in a fixed phase - a hollower, brighter
    colour at the same pitch.

    The amplitude is switched to 0 shortly before the note ends, so
    repeated notes are articulated.
    """
    ep = saw_env_period(name)
    if sync:
        tl.tone(t0, B, 16 * ep)
    tl.volume(t0, B, AMP_ENVELOPE)
    tl.envelope(t0, ep, shape)
    gap = 15 * MS if t1 - t0 > 500 * MS else 30 * MS
    tl.volume(t1 - gap, B, 0)


def compose_bass(tl, bars, grid):
    for index, bar in enumerate(bars):
        if bar.bass is None:
            continue
        base = index * STEPS_PER_BAR
        # Tone on B only in "sync" bars; noise never on B.
        tl.mixer(grid[base], B, tone=bar.bass_sync, noise=False)
        for start, length, degree in bar.bass:
            step = base + start
            name = BASS_TONES[chord_at(bars, step)][degree]
            bass_note(tl, grid[step], grid[step + length], name,
                      bar.bass_shape, bar.bass_sync)


# ---------------------------------------------------------------------------
# Channel C: drums
# ---------------------------------------------------------------------------
# Each drum is a short list of (offset in ticks, operation, argument).
# Volumes fall in steps every 2-6 ms; the noise period (R6) is chosen per
# drum: long period = dull rumble, period 1 = bright hiss.

def kick():
    """Tone plus noise for a click, then a falling tone (a pitch sweep
    from about 200 Hz down below 40 Hz) while the volume drops."""
    hit = [(0, "mix", (True, True)), (0, "noise", 14),
           (0, "tone", 300), (0, "vol", 15),
           (3 * MS, "mix", (True, False))]
    period = 300
    for i, level in enumerate([15, 14, 13, 12, 11, 10, 8, 6, 4, 2, 0], 1):
        period = min(0xFFF, int(period * 1.25))
        hit += [(i * 3 * MS, "tone", period), (i * 3 * MS, "vol", level)]
    return hit


def snare(peak):
    """Noise with a short tone 'body' mixed in, decaying every 4 ms."""
    hit = [(0, "mix", (True, True)), (0, "noise", 6),
           (0, "tone", 190), (0, "vol", peak),
           (4 * MS, "tone", 240), (4 * MS, "vol", peak - 1),
           (8 * MS, "mix", (False, True))]
    for i, level in enumerate(range(peak - 2, -1, -1), 2):
        hit.append((i * 4 * MS, "vol", level))
    return hit


def closed_hat(peak=9):
    """Brightest noise, gone in about 10 ms."""
    hit = [(0, "mix", (False, True)), (0, "noise", 1), (0, "vol", peak)]
    for i, level in enumerate(range(peak - 2, -1, -2), 1):
        hit.append((i * 2 * MS, "vol", level))
    hit.append(((peak // 2 + 1) * 2 * MS, "vol", 0))
    return hit


def open_hat():
    """Bright noise with a longer tail (6 ms per step)."""
    hit = [(0, "mix", (False, True)), (0, "noise", 1), (0, "vol", 11)]
    for i, level in enumerate(range(10, -1, -1), 1):
        hit.append((i * 6 * MS, "vol", level))
    return hit


def crash(step_time):
    """A thump (tone + noise) under a long, slightly darker noise wash."""
    hit = [(0, "mix", (True, True)), (0, "noise", 3),
           (0, "tone", 500), (0, "vol", 15),
           (10 * MS, "mix", (False, True)), (10 * MS, "noise", 2)]
    for i, level in enumerate(range(14, -1, -1), 1):
        hit.append((10 * MS + i * step_time, "vol", level))
    return hit


DRUM_KIT = {
    "K": kick(),
    "S": snare(15),
    "s": snare(10),
    "h": closed_hat(),
    "o": open_hat(),
    "C": crash(90 * MS),
}


def compose_drums(tl, bars, grid, final_hit):
    hits = []
    for index, bar in enumerate(bars):
        assert len(bar.drums) == STEPS_PER_BAR
        for pos, char in enumerate(bar.drums):
            if char != ".":
                hits.append((grid[index * STEPS_PER_BAR + pos], DRUM_KIT[char]))
    hits.append(final_hit)
    # One channel, so a new hit cuts the previous one off.
    for i, (t0, hit) in enumerate(hits):
        limit = hits[i + 1][0] if i + 1 < len(hits) else float("inf")
        for dt, op, arg in hit:
            t = t0 + dt
            if t >= limit:
                break
            if op == "mix":
                tl.mixer(t, C, tone=arg[0], noise=arg[1])
            elif op == "noise":
                tl.write(t, R_NOISE, arg)
            elif op == "tone":
                tl.tone(t, C, arg)
            else:
                tl.volume(t, C, arg)


# ---------------------------------------------------------------------------
# The final chord
# ---------------------------------------------------------------------------

def compose_ending(tl, t_final, t_end):
    """D minor to finish: lead D5 with vibrato, fading by volume writes;
    bass D2 as a plain square tone whose loudness follows a single slow
    fall of the envelope (shape 0) - a hardware fade; and a long crash."""
    # Lead: attack, then one volume step down every ~230 ms.
    period = tone_period(FINAL_MELODY_NOTE)
    tl.tone(t_final, A, period)
    for dt, level in ((0, 10), (4 * MS, 13), (8 * MS, 14)):
        tl.volume(t_final + dt, A, level)
    fade_start = t_final + 300 * MS
    fade_steps = 14
    fade_step = (t_end - 150 * MS - fade_start) / fade_steps
    for i in range(fade_steps):
        tl.volume(fade_start + (i + 1) * fade_step, A, 13 - i)
    add_vibrato(tl, A, t_final + VIB_DELAY, t_end - 150 * MS, period)

    # Bass: envelope period chosen so the single fall lasts ~3 s.
    tl.mixer(t_final, B, tone=True, noise=False)
    tl.tone(t_final, B, tone_period(FINAL_BASS_NOTE))
    tl.volume(t_final, B, AMP_ENVELOPE)
    tl.envelope(t_final, round(3.0 * CLOCK / 256), SHAPE_FALL_ONCE)

    # Everything silent at the very end: this last write marks the end
    # time of the song, so it is forced even if nothing changes.
    for ch in (A, B, C):
        tl.write(t_end, R_AMP[ch], 0, force=True)


# ---------------------------------------------------------------------------
# Putting it together
# ---------------------------------------------------------------------------

def compose():
    bars = arrange()
    grid = build_grid(len(bars))
    t_final = grid[len(bars) * STEPS_PER_BAR]    # downbeat of the last chord
    t_end = t_final + TAIL

    tl = Timeline()
    # Known state at time 0: every register written once.
    for ch in (A, B, C):
        tl.write(0, R_FINE[ch], 0x00, force=True)
        tl.write(0, R_COARSE[ch], 0x01, force=True)
    tl.write(0, R_NOISE, 1, force=True)
    tl.write(0, R_MIXER, 0x3F, force=True)      # everything off
    for ch in (A, B, C):
        tl.write(0, R_AMP[ch], 0, force=True)
    tl.envelope(0, 0x0100, SHAPE_FALL_ONCE)
    # Channel A is a plain square tone for the whole song.
    tl.mixer(0, A, tone=True, noise=False)
    # Channel B: pure envelope (tone and noise off) until told otherwise.
    tl.mixer(0, B, tone=False, noise=False)

    compose_arpeggio(tl, bars, grid)
    compose_melody(tl, bars, grid)
    compose_bass(tl, bars, grid)
    compose_drums(tl, bars, grid, (t_final, crash(200 * MS)))
    compose_ending(tl, t_final, t_end)
    return tl.render(), bars, grid


def write_log(path, writes):
    with open(path, "w", encoding="ascii", newline="\n") as f:
        f.write("MOVA-TXT\n")
        for t, reg, value in writes:
            f.write("%d:%02X:%02X\n" % (t, reg, value))


LINE_RE = re.compile(r"(\d+):([0-9A-F]{2}):([0-9A-F]{2})")


def check_log(path):
    """Read the file back and make sure it is a well-formed log of the
    right length. Returns (number of write lines, duration in ticks)."""
    with open(path, "rb") as f:
        data = f.read()
    assert b"\r" not in data, "CR found"
    text = data.decode("ascii")
    assert text.startswith("MOVA-TXT\n"), "bad header"
    assert text.endswith("\n"), "missing final LF"
    lines = text[len("MOVA-TXT\n"):-1].split("\n")
    prev = 0
    for number, line in enumerate(lines, 2):
        assert len(line) < 127, "line %d too long" % number
        m = LINE_RE.fullmatch(line)
        assert m, "line %d malformed: %r" % (number, line)
        t, reg, value = int(m.group(1)), int(m.group(2), 16), int(m.group(3), 16)
        if number == 2:
            assert t == 0, "first write is not at time 0"
        assert t >= prev, "time goes backwards at line %d" % number
        assert t - prev <= 268435455, "gap too long at line %d" % number
        assert reg in REG_MAX, "bad register at line %d" % number
        assert value <= REG_MAX[reg], "bad value at line %d" % number
        if reg == R_NOISE:
            assert value >= 1, "noise period 0 at line %d" % number
        prev = t
    assert 45 * CLOCK <= prev <= 75 * CLOCK, "duration %d out of range" % prev
    return len(lines), prev


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    path = os.path.join(here, "demo.txt")
    writes, bars, grid = compose()
    write_log(path, writes)
    count, duration = check_log(path)
    print("wrote %s: %d writes, %.2f s" % (path, count, duration / CLOCK))
    for name, bar in (("intro", 0), ("theme", 4), ("bridge", 12),
                      ("reprise", 20), ("coda", 28), ("final chord", 31)):
        print("  %-12s bar %2d at %6.2f s" % (name, bar,
                                               grid[bar * STEPS_PER_BAR] / CLOCK))


if __name__ == "__main__":
    main()
