#!/usr/bin/env python3
"""Authors the installation data in data/: the plate-format files and the Default project.

Run from anywhere: python3 data/tools/make_data.py. The output is committed; the build embeds
data/*.dat into the program, so this script is only needed to change the data.

Geometry. The instrument's beams form a grid of 24 columns x 16 rows at the 384-well pitch of
4.5 mm; channel = beam column x 16 + beam row. Microplates share the SBS footprint and their well
grids are centred on it, as is the beam grid. Coordinates below are in beam positions from the
grid's top-left corner: beam (c, r) is the cell [c, c+1] x [r, r+1] with its centre at
(c + 0.5, r + 0.5). Well (row i, column j) of an n-row, m-column plate at pitch p mm has its
centre at (12 + (j - (m-1)/2) p/4.5, 8 + (i - (n-1)/2) p/4.5).

Which beams belong to a well:
  w384, w96f, w96u  the maps the program also builds itself when the file cannot be read;
  w96flat, w24      the 2 x 2 block of beams centred nearest the well centre (4 beams/well);
  w48, w6           every beam whose centre lies within 82 % of the well radius (away from the
                    wall and meniscus): 1-3 beams per 48-well, 30-32 per 6-well.
Beams of a well are numbered in channel order from 0. Drawing geometry: pitch in beam positions,
offset = left (top) edge of the first well's pitch cell, i.e. centre - pitch/2; the built-in maps
keep their own values.
"""
import math
import os

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.dirname(HERE)
BEAM_MM = 4.5
ROWS, COLS = 16, 24


def num(v):
    """Shortest round-trip text, '.' decimal, no trailing '.0' (as the program writes)."""
    if v == int(v):
        return str(int(v))
    return repr(v)


def q(s):
    return '"' + s.replace('"', '""') + '"'


def write(name, lines):
    with open(os.path.join(DATA, name), "wb") as f:
        f.write(("\r\n".join(lines) + "\r\n").encode("latin-1"))


def plate_file(name, description, rows, pr, ro, cols, pc, co, well, beam):
    lines = [q("Lumivo plate format " + name), q(description),
             ",".join([str(rows), num(pr), num(ro), str(cols), num(pc), num(co)]),
             q("<Channel>, <Well>, <Beam>")]
    for ch in range(384):
        lines.append("%d,%d,%d" % (ch, well[ch], beam[ch]))
    write(name + ".dat", lines)


def builtin(name):
    well = [-1] * 384
    beam = [0] * 384
    if name == "w384":
        return list(range(384)), beam
    nxt = 0
    for c in range(COLS):
        for r in range(0, ROWS, 2):
            ch = c * 16 + r
            well[ch + 1] = -1
            if c % 2 == 0:
                well[ch] = nxt
                nxt += 1
            elif name == "w96f":
                well[ch] = well[ch - 16]
                beam[ch] = 1
    return well, beam


def centres(n_rows, n_cols, pitch_mm):
    p = pitch_mm / BEAM_MM
    ys = [ROWS / 2 + (i - (n_rows - 1) / 2) * p for i in range(n_rows)]
    xs = [COLS / 2 + (j - (n_cols - 1) / 2) * p for j in range(n_cols)]
    return xs, ys, p


def number_beams(well):
    beam = [0] * 384
    seen = {}
    for ch in range(384):
        if well[ch] >= 0:
            beam[ch] = seen.get(well[ch], 0)
            seen[well[ch]] = beam[ch] + 1
    return beam


def block_map(n_rows, n_cols, pitch_mm):
    xs, ys, _ = centres(n_rows, n_cols, pitch_mm)
    well = [-1] * 384
    for j, x in enumerate(xs):
        for i, y in enumerate(ys):
            c0, r0 = math.floor(x + 0.5) - 1, math.floor(y + 0.5) - 1
            for c in (c0, c0 + 1):
                for r in (r0, r0 + 1):
                    assert 0 <= c < COLS and 0 <= r < ROWS and well[c * 16 + r] == -1
                    well[c * 16 + r] = j * n_rows + i
    return well, number_beams(well)


def circle_map(n_rows, n_cols, pitch_mm, diameter_mm):
    xs, ys, _ = centres(n_rows, n_cols, pitch_mm)
    radius = 0.82 * diameter_mm / 2 / BEAM_MM
    well = [-1] * 384
    for j, x in enumerate(xs):
        for i, y in enumerate(ys):
            for c in range(COLS):
                for r in range(ROWS):
                    if math.hypot(c + 0.5 - x, r + 0.5 - y) <= radius:
                        assert well[c * 16 + r] == -1
                        well[c * 16 + r] = j * n_rows + i
    return well, number_beams(well)


def drawing(n, pitch_mm, grid):
    p = pitch_mm / BEAM_MM
    first = grid / 2 - (n - 1) / 2 * p
    return round(p, 4), round(first - p / 2, 4)


def main():
    plate_file("w384", "384 Well microplate [1microbeams/well]", 16, 1, 0, 24, 1, 0,
               *builtin("w384"))
    plate_file("w96f", "96 Wells flat bottom [2microbeams/well]", 8, 2, -0.5, 12, 2, 0,
               *builtin("w96f"))
    plate_file("w96u", "96 Wells U shape bottom [1microbeam/well]", 8, 2, -0.5, 12, 2, -0.5,
               *builtin("w96u"))
    formats = [  # name, description, rows, cols, pitch mm, well diameter mm or None (2x2 block)
        ("w96flat", "96 Wells flat bottom [4microbeams/well]", 8, 12, 9.0, None),
        ("w48", "48 Wells flat bottom [1-3microbeams/well]", 6, 8, 13.08, 11.05),
        ("w24", "24 Wells flat bottom [4microbeams/well]", 4, 6, 19.3, None),
        ("w6", "6 Wells flat bottom [30-32microbeams/well]", 2, 3, 39.12, 34.8),
    ]
    for name, desc, rows, cols, pitch, diameter in formats:
        well, beam = (block_map(rows, cols, pitch) if diameter is None
                      else circle_map(rows, cols, pitch, diameter))
        rp, ro = drawing(rows, pitch, ROWS)
        cp, co = drawing(cols, pitch, COLS)
        plate_file(name, desc, rows, rp, ro, cols, cp, co, well, beam)

    # config.dat: the Default project is current, no project issued yet, COM1.
    write("config.dat", [q("Config: <Actual_Project_Number>, <Last_Project>,<Serial_COM>,"
                           "<Restart_Time>"), "0,0,1,0"])
    # The Default project (project 0) lives in the installation folder itself.
    write("setup.dat", [
        q("Project Setup: <Num_proj>,<Name>,<Working_folder>,<Plate_format>"),
        '0,"Default","","w96f"',
        q("<Aq_mode>,<Aq_lapse>,<Sample_Rate>,<RT_Buffer>,<DSP_Method>,<DSP_Interval>"),
        "1,30,99,500,1,30",
        q("<Binary_Acq>,<Threshold_Counter>,<Cal_value>,<Cal_mode>,<Save_counts>,<Save_real>"),
        "1,300,80,1,1,1",
        q("Tools: <Menu1:Cal>, <Menu2:Light>, <Menu3:Temp>, <Menu4>, <Menu5>, <Menu6>"),
        "1,0,0,0,0,0",
        q("Mn1: <Organism>, <Enab_Cal>, <Enab_Zero>, <SNRx10>,,"), "0,1,1,0,0,0",
        q("Mn2: <Enable>, <Time_ON>, <v3:Time_OFF>,,,"), "0,9,21,0,0,0",
        q("Mn3: <v1:Enable>, <v2:Tempx10>,,,,"), "0,200,0,0,0,0",
        q("Mn4: ,,,,,"), "0,0,0,0,0,0",
        q("Mn5: ,,,,,"), "0,0,0,0,0,0",
        q("Mn6: ,,,,,"), "0,0,0,0,0,0",
    ])
    write("status.dat", [q("<Channel>, <Enabled>")] + ["%d,1" % c for c in range(384)])
    write("threshld.dat", [q("<Channel>, <Threshold>")] + ["%d,3" % c for c in range(384)])
    write("groups.dat", [q("<Group_Number>, <Group_Name>")] +
          ['%d,%s' % (k, q("Group%d" % k if k < 12 else "Free")) for k in range(384)])
    write("chgroup.dat", [q("<Channel>, <Group: -1=Free>")] +
          ["%d,%d" % (ch, (ch // 16 + 1) // 2) for ch in range(384)])


if __name__ == "__main__":
    main()
