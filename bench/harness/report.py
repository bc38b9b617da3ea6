"""The table of bench/run: one row per scenario, library next to tools, and next to tools
followed by `sync -f` (the like-for-like anchor: the library writes every snapshot back
to disk before it records it). Goals are set against that second column."""

from measure import Measurement

HEADER = ("scenario", "qelvo s", "tools s", "tools+sync s", "ratio", "like-for-like", "goal",
          "RSS MiB q/t", "MB received q/t", "MiB written q/t", "conns q/t", "threads q/t")


def _mib(kib):
    return f"{kib / 1024:.0f}" if kib else "-"


def _pair(ours, theirs, figure, show=str):
    mine = getattr(ours, figure) if ours else 0
    other = getattr(theirs, figure) if theirs else 0
    return f"{show(mine) if mine else '-'}/{show(other) if other else '-'}"


def _ratio(ours, tools):
    return ours.seconds / tools.seconds if tools and tools.seconds else float("nan")


def _row(title, ours, tools, synced, goal):
    ratio = _ratio(ours, synced)
    goal_text = f"<= {goal:.1f}" if goal else ""
    if goal:
        goal_text += " ok" if ratio <= goal else " MISSED"
    return (title, f"{ours.seconds:.3f}", f"{tools.seconds:.3f}", f"{synced.seconds:.3f}",
            f"{_ratio(ours, tools):.2f}", f"{ratio:.2f}", goal_text,
            _pair(ours, tools, "peak_kib", _mib),
            _pair(ours, tools, "bytes", lambda b: f"{b / 1e6:.1f}"),
            _pair(ours, synced, "written_kib", _mib), _pair(ours, tools, "connections"),
            _pair(ours, tools, "threads"))


def rows(results):
    by_key = {scenario.key: (scenario, ours, tools, synced, extra)
              for scenario, ours, tools, synced, extra in results}
    table = []
    for scenario, ours, tools, synced, extra in results:
        table.append(_row(f"{scenario.title} vs {scenario.tools_title}", ours, tools, synced,
                          scenario.goal))
        if scenario.key == "secure" and "partial" in by_key:
            plain = by_key["partial"][1]
            verification = Measurement(ours.seconds - plain.seconds)
            digest = extra["openssl dgst, 2 processes"]
            table.append(_row("  verification alone (secure - plain sync) vs openssl dgst x2",
                              verification, digest, digest, 1.0))
        if scenario.key == "same":
            for name, measurement in extra.items():
                goal = 1.2 if name.startswith("1st") else 1.0
                table.append(_row(f"  {name} vs one curl POST", measurement, tools, tools, goal))
    return table


def print_table(bundle, results):
    table = [HEADER] + rows(results)
    widths = [max(len(row[i]) for row in table) for i in range(len(HEADER))]
    print(bundle)
    for row in table:
        print("  " + "  ".join(cell.ljust(width) if i == 0 else cell.rjust(width)
                               for i, (cell, width) in enumerate(zip(row, widths))))
    print()


def write_markdown(path, tables, repeat):
    with open(path, "w") as out:
        out.write(f"Medians of {repeat} runs; peak RSS and threads: the largest seen. "
                  "Ratios: library / tools, and library / tools followed by `sync -f` "
                  "(like-for-like; the goals are against it). MB received: what nginx sent, "
                  "headers included; MiB written: file data written towards the disk, "
                  "library / tools followed by `sync -f`.\n\n")
        for bundle, results in tables:
            out.write(f"**{bundle}**\n\n| " + " | ".join(HEADER) + " |\n|" + "---|" * len(HEADER) + "\n")
            for row in rows(results):
                out.write("| " + " | ".join(cell.strip() for cell in row) + " |\n")
            out.write("\n")
