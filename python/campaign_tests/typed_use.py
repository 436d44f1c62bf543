# mypy: disallow-any-expr
"""A campaign driven as a typed program would drive it. Not run: mypy
checks it with --disallow-any-expr (ctest python_campaign_api_types), so
that any value of the public API that reached its users untyped (an Any
from Dask, JSON or a missing annotation) fails the build."""

import os

import guidew.campaign as gc


def stop_after_first_task(task: int, cluster: gc.Cluster) -> None:
    # What a callback reads: the task, and the Dask workers' answers.
    pids = cluster.client.run(os.getpid)
    if task == 0 and min(pids.values()) > 0:
        raise KeyboardInterrupt


def report(path: str) -> str:
    campaign = gc.load(path)
    gc.validate(campaign)
    grid: list[gc.Dispersion] = campaign.grid
    plan: gc.Plan = campaign.to_plan()
    # A dispersed value is a number, a flag or a name (an aircraft, a parameter file).
    first: dict[str, bool | int | float | str] = gc.draw(plan, 0)
    flown: gc.FlightResult = gc.fly(campaign.scenario, {"duration_s": 1.0, **first})
    failures = [c["failure"] for c in flown["checks"] if not c["passed"]]
    path_points = len(flown.get("path", []))
    scenarios = [s["name"] for s in gc.builtin_scenarios()]
    again: dict[str, object] = gc.flight_scenario(campaign, campaign.flights - 1)

    result = gc.run(
        campaign,
        workers=1,
        out=None,
        resume=False,
        progress=False,
        pictures=False,
        report=False,
        on_task_done=stop_after_first_task,
    )
    summary: gc.Summary = result.summary
    rate: float = summary["all_checks"]["rate"]
    low, high = summary["checks"]["max_load_g"]["ci95"]
    p95: float | None = summary["metrics"]["peak_load_g"]["percentiles"][95]
    worst = [index for index, _ in summary["worst"].get("peak_load_g", [])]
    cells = [row["index"] for row in result.table]
    files: gc.ResultFiles = result.files
    written = [
        files["table"],
        files["summary"],
        *files["flights"].values(),
        *files.get("pictures", []),
        files.get("report", ""),
    ]
    return "%s %d %g %g-%g %s %s %s %d %s %d %s %s" % (
        result.out_dir,
        len(grid),
        rate,
        low,
        high,
        p95,
        worst,
        cells,
        path_points,
        failures,
        len(scenarios),
        again["name"],
        written,
    )
