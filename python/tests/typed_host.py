# mypy: disallow-any-expr
"""A host stepping the law as docs/python.md shows it, written as a typed
program would be. Not run: mypy --strict checks it (ctest
python_guidew_types), so every record value, fleet buffer and batch result
reaches a typed host with its type, and what the manual shows type-checks."""

import array

import guidew


def host() -> float:
    with guidew.Instance() as m:
        m.params["roll_kp"] = 3.0
        m.params["thr_table"][3] = 0.25
        table: list[float] = list(m.params["thr_table"])
        highest: float = m.params["thr_max_index"][0]
        m.inputs.update(guidew.TYPICAL_FLIGHT)
        row: list[float] = [m.inputs[name] for name in guidew.INPUT_FIELDS]
        sign: float = m.states["turn_sign"]
        typical: dict[str, float] = guidew.TYPICAL_FLIGHT
        out: guidew.Outputs = m.step(row)
    with guidew.Fleet(4) as fleet:
        fleet.inputs[0, 2] = 30.0
        azim: float = fleet.inputs[0, 2]
        rows: guidew.OutputRows = fleet.step()
        lat: float = rows[0, "lat_cmd"] + rows[1, 0]
        mine = array.array("d", bytes(8 * 4 * 4))
        filled: "array.array[float]" = fleet.step(outputs=mine)
    instances = [guidew.Instance() for _ in range(2)]
    batch: "array.array[float]" = guidew.step_batch(instances, [row, row])
    return (
        out.nz_cmd + sign + azim + lat + filled[0] + batch[0] + table[0] + highest + typical["tas"]
    )
