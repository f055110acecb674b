import gc


def pytest_unconfigure(config):
    # Hypothesis times garbage collection with a callback in gc.callbacks. Left
    # installed at interpreter exit, it keeps the objects that pytest's
    # collected tests still reference (parameter values, for instance) from
    # ever being freed, and nanobind then reports them as leaked instances.
    gc.callbacks[:] = [
        callback for callback in gc.callbacks if not getattr(callback, "__module__", "").startswith("hypothesis")
    ]
