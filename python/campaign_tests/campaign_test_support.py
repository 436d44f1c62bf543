"""What the campaign tests share: reading a result file, and stopping a
campaign from its on_task_done hook after a number of tasks, as an
interrupted driver stops."""


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


class Stop(Exception):
    """Raised from on_task_done: the driver stops as if interrupted."""


def stop_after(count, finished):
    """An on_task_done hook that records each finished task in finished and
    stops the campaign once count have finished."""

    def hook(task, cluster):
        finished.append(task)
        if len(finished) == count:
            raise Stop()

    return hook
