"""Download progress against the line limit, drawn with matplotlib (Agg, no display needed):
one panel per measured download, each with the limits of the wizard's download speeds."""
import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

FIGURE_SIZE_IN = (7.2, 4.4)
PANEL_HEIGHT_IN = 3.6
DPI = 100
LIMIT_STYLES = ("--", ":", "-.")


def progress_chart(path, panels, limits):
    """panels: [(title, [(label, [(seconds, bytes)])])]; limits: [(label, bytes per second)],
    each drawn as the straight line the physical link allows at that speed."""
    figure, axes = plt.subplots(len(panels), 1, squeeze=False,
                                figsize=(FIGURE_SIZE_IN[0], max(FIGURE_SIZE_IN[1], PANEL_HEIGHT_IN * len(panels))))
    for ax, (title, series) in zip(axes[:, 0], panels):
        x_max = max(max((t for t, _ in points), default=1.0) for _, points in series)
        y_max = max(max((b for _, b in points), default=1) for _, points in series)
        for label, points in series:
            # The last point is the unit's own time of the last byte, which may precede the
            # final poll.
            points = sorted(points)
            ax.plot([t for t, _ in points], [b / 1000.0 for _, b in points], linewidth=2, label=label)
        for (label, rate), style in zip(limits, LIMIT_STYLES):
            end = min(x_max, y_max / rate)
            ax.plot([0, end], [0, end * rate / 1000.0], style, color="grey", label="line limit, %s" % label)
        ax.set_title(title)
        ax.set_xlabel("time (s)")
        ax.set_ylabel("kB at the unit")
        ax.set_xlim(0, x_max * 1.05)
        ax.set_ylim(0, y_max / 1000.0 * 1.08)
        ax.grid(True, alpha=0.3)
        ax.legend(loc="lower right", fontsize="small")
    figure.tight_layout()
    figure.savefig(path, dpi=DPI)
    plt.close(figure)
    return path
