"""Draws the trajectories guide-sim wrote: one PNG per scenario.

usage: plot_trajectory.py DIR NAME [NAME ...]
Reads DIR/NAME.csv and writes DIR/NAME.png (through a temporary file, so a
picture is either whole or absent).
"""
import csv
import os
import sys

try:
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
except ImportError:
    sys.exit("plot_trajectory.py: matplotlib is missing for %s; install Debian's "
             "python3-matplotlib (or run guide-sim with --no-plot)" % sys.executable)


def read_columns(path):
    with open(path, newline="") as f:
        rows = csv.reader(f)
        header = next(rows)
        cols = {name: [] for name in header}
        for row in rows:
            for name, value in zip(header, row):
                cols[name].append(float(value))
    return cols


def plot(directory, name):
    c = read_columns(os.path.join(directory, name + ".csv"))
    t = c["time"]
    fig, ax = plt.subplots(3, 2, figsize=(12, 10), constrained_layout=True)
    fig.suptitle(name)

    a = ax[0][0]
    a.plot(c["z_east"], c["x_north"])
    a.plot(c["z_east"][:1], c["x_north"][:1], "go", label="start")
    a.set_xlabel("east (m)"); a.set_ylabel("north (m)"); a.set_title("ground track")
    a.set_aspect("equal", adjustable="datalim"); a.legend(loc="best")

    a = ax[0][1]
    a.plot(t, c["altitude"])
    a.set_xlabel("time (s)"); a.set_ylabel("m"); a.set_title("altitude")

    a = ax[1][0]
    a.plot(t, c["roll"], label="bank (deg)")
    a.plot(t, c["lat_cmd"], label="lat_cmd")
    a.set_xlabel("time (s)"); a.set_title("bank and lateral command"); a.legend(loc="best")

    a = ax[1][1]
    a.plot(t, c["nz_cmd"], label="commanded")
    a.plot(t, c["load_flown"], label="flown")
    a.set_xlabel("time (s)"); a.set_ylabel("g"); a.set_title("load factor"); a.legend(loc="best")

    a = ax[2][0]
    a.plot(t, c["throttle_cmd"], label="throttle_cmd")
    a.plot(t, c["thrust_frac"], label="thrust (fraction of max)")
    a.set_xlabel("time (s)"); a.set_title("throttle and speed"); a.legend(loc="upper left")
    b = a.twinx()
    b.plot(t, c["tas"], "k--", label="speed")
    b.plot(t, c["speed_cmd"], "k:", label="speed_cmd")
    b.set_ylabel("m/s"); b.legend(loc="upper right")

    a = ax[2][1]
    a.plot(t, c["dir_err_deg"])
    a.axhline(5, color="grey", linestyle=":")
    a.set_xlabel("time (s)"); a.set_ylabel("deg"); a.set_title("velocity to commanded direction")

    final = os.path.join(directory, name + ".png")
    tmp = final + ".tmp.png"
    fig.savefig(tmp, dpi=80)
    plt.close(fig)
    os.replace(tmp, final)


def main(argv):
    if len(argv) < 3:
        sys.exit(__doc__)
    for name in argv[2:]:
        plot(argv[1], name)


if __name__ == "__main__":
    main(sys.argv)
