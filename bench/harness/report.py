"""The table of bench/run: one row per scenario, library next to tools."""

from measure import Measurement

HEADER = ("scenario", "qelvo s", "tools s", "ratio", "goal", "RSS MiB q/t", "conns q/t", "threads q/t")


def _mib(kib):
    return f"{kib / 1024:.0f}" if kib else "-"


def _pair(ours, theirs, figure):
    mine = getattr(ours, figure) if ours else 0
    other = getattr(theirs, figure) if theirs else 0
    return f"{mine or '-'}/{other or '-'}"


def _row(title, ours, tools, goal):
    ratio = ours.seconds / tools.seconds if tools and tools.seconds else float("nan")
    goal_text = f"<= {goal:.1f}" if goal else ""
    if goal:
        goal_text += " ok" if ratio <= goal else " MISSED"
    return (title, f"{ours.seconds:.3f}", f"{tools.seconds:.3f}", f"{ratio:.2f}", goal_text,
            f"{_mib(ours.peak_kib)}/{_mib(tools.peak_kib)}", _pair(ours, tools, "connections"),
            _pair(ours, tools, "threads"))


def rows(results):
    by_key = {scenario.key: (scenario, ours, tools, extra) for scenario, ours, tools, extra in results}
    table = []
    for scenario, ours, tools, extra in results:
        table.append(_row(f"{scenario.title} vs {scenario.tools_title}", ours, tools, scenario.goal))
        if scenario.key == "secure" and "partial" in by_key:
            plain = by_key["partial"][1]
            verification = Measurement(ours.seconds - plain.seconds)
            table.append(_row("  verification alone (secure - plain sync) vs openssl dgst x2",
                              verification, extra["openssl dgst, 2 processes"], 1.0))
        if scenario.key == "same":
            for name, measurement in extra.items():
                goal = 1.2 if name.startswith("1st") else 1.0
                table.append(_row(f"  {name} vs one curl POST", measurement, tools, goal))
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
        out.write(f"Medians of {repeat} runs; peak RSS and threads: the largest seen.\n\n")
        for bundle, results in tables:
            out.write(f"**{bundle}**\n\n| " + " | ".join(HEADER) + " |\n|" + "---|" * len(HEADER) + "\n")
            for row in rows(results):
                out.write("| " + " | ".join(cell.strip() for cell in row) + " |\n")
            out.write("\n")
