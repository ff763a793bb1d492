"""The Dask example: partitions through karvex on a cluster of worker
processes give the same bits as one process computing the whole table."""

import importlib
import os
import pathlib
import sys

import numpy as np
import pytest

pd = pytest.importorskip("pandas")
dd = pytest.importorskip("dask.dataframe")
distributed = pytest.importorskip("distributed")

import karvex  # noqa: E402

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"


@pytest.fixture(scope="module")
def example():
    # Imported by name, with its folder on the path that the worker processes
    # inherit, so that they can import it too.
    sys.path.insert(0, str(EXAMPLES))
    try:
        yield importlib.import_module("dask_chain")
    finally:
        sys.path.remove(str(EXAMPLES))
        sys.modules.pop("dask_chain", None)


@pytest.fixture(scope="module")
def client(example):
    with example.local_cluster(2, cores=2, dashboard_address=None) as cluster:
        with distributed.Client(cluster) as c:
            yield c


def one_process(frame):
    args = [frame[c].to_numpy() for c in ("type", "spot", "strike", "t", "rate", "dividend")]
    iv = karvex.bsm.iv(frame["price"].to_numpy(), *args)
    return {"iv": iv, **karvex.bsm.greeks(*args, iv)._asdict()}


@pytest.mark.parametrize("form", ["parquet", "csv"])
def test_cluster_result_is_bit_for_bit_the_one_process_result(example, client, tmp_path, form):
    table = example.sample_options(40_000).reset_index(names="id")
    parts = dd.from_pandas(table, npartitions=4)
    if form == "parquet":
        path = str(tmp_path / "options.parquet")
        parts.to_parquet(path)
    else:
        parts.to_csv(str(tmp_path / "options-*.csv"), index=False)
        path = str(tmp_path / "options-*.csv")

    # A bounded wait: a worker that cannot run the task must fail the test, not hang it.
    result = client.compute(example.with_results(example.read_options(path))).result(timeout=120)
    result = result.sort_values("id").reset_index(drop=True)
    assert len(result) == len(table) and result.columns[-6:].tolist() == list(
        example.OUTPUT_COLUMNS
    )
    want = one_process(result)  # the inputs exactly as the workers read them
    for name, values in want.items():
        assert np.array_equal(result[name].to_numpy().view(np.uint64), values.view(np.uint64)), name
    assert np.isnan(want["iv"]).sum() > 300  # the faulty rows went through too


def test_each_worker_pool_gets_its_share_of_the_cores(example, client):
    sizes = client.run(lambda: os.environ.get("RAYON_NUM_THREADS"))
    assert sorted(sizes.values()) == ["1", "1"]
    assert [example.pool_threads(w, cores=8) for w in (1, 3, 8, 16)] == [8, 2, 1, 1]
