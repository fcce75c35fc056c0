"""The NumPy ecosystem takes vm's ufuncs as it takes NumPy's own: dask stays lazy,
pandas aligns, xarray keeps coordinates and attributes, masked arrays keep their mask,
subclasses come back as NumPy returns them, and every ufunc pickles by reference, so
that process-based schedulers can run them."""

import json
import multiprocessing
import pickle
import types

import numpy as np
import pytest
from vantrel.mkl import vm
from vantrel.mkl._catalogue.vm_interface import vm_aliases, vm_functions

OPERATIONS = [f.name for f in vm_functions() if not f.is_pack]
X = np.linspace(0.5, 2.0, 12)


def test_dask_stays_lazy_and_computes_what_vm_computes():
    da = pytest.importorskip("dask.array")
    lazy = da.from_array(X, chunks=5)
    result = vm.exp(lazy)
    assert isinstance(result, da.Array)
    assert result.compute(scheduler="sync").tobytes() == vm.exp(X).tobytes()
    assert vm.powx(lazy, 2.5).compute(scheduler="sync").tobytes() == vm.powx(X, 2.5).tobytes()


TWO_OUTPUTS = [getattr(namespace, f.name) for f in vm_functions() if f.outputs == 2
               for namespace in (vm, vm.la, vm.ha, vm.ep)]


def test_modf_gives_numpys_order():
    x = np.array([1.5, -2.25, 0.0, -0.0, np.inf, -np.inf, np.nan])
    for got, want in zip(vm.modf(x), np.modf(x)):
        assert got.tobytes() == want.tobytes()


@pytest.mark.parametrize("ufunc", TWO_OUTPUTS, ids=lambda u: u.__name__)
def test_two_output_ufuncs_on_dask_arrays_are_never_another_librarys(ufunc):
    # Dask looks a two-output ufunc up by its name among its own functions; vm's names
    # are none of them, so the call fails rather than run NumPy's same-named function.
    da = pytest.importorskip("dask.array")
    lazy = da.from_array(X, chunks=5)
    with pytest.raises(TypeError):
        ufunc(lazy)
    # What the README gives for dask arrays instead.
    results = da.apply_gufunc(ufunc, "()->(),()", lazy, output_dtypes=(X.dtype, X.dtype))
    for got, want in zip(results, ufunc(X)):
        assert got.compute(scheduler="sync").tobytes() == want.tobytes()


def test_pandas_aligns_and_keeps_the_index():
    pd = pytest.importorskip("pandas")
    s1 = pd.Series([1.0, 2.0], index=["a", "b"])
    s2 = pd.Series([2.0, 1.0], index=["b", "a"])
    aligned = vm.add(s1, s2)
    assert isinstance(aligned, pd.Series)
    pd.testing.assert_series_equal(aligned, np.add(s1, s2))
    assert aligned.tolist() == [2.0, 4.0]
    frame = pd.DataFrame({"x": X[:3]}, index=[10, 20, 30])
    result = vm.exp(frame)
    assert isinstance(result, pd.DataFrame) and list(result.index) == [10, 20, 30]
    assert result["x"].to_numpy().tobytes() == vm.exp(X[:3]).tobytes()


def test_xarray_keeps_coordinates_and_attributes():
    xr = pytest.importorskip("xarray")
    array = xr.DataArray(X.reshape(3, 4), dims=("t", "s"),
                         coords={"t": [0, 1, 2], "s": list("abcd")}, attrs={"units": "m"})
    with xr.set_options(keep_attrs=True):
        result = vm.exp(array)
        reference = np.exp(array)
    assert isinstance(result, xr.DataArray)
    assert result.dims == array.dims and result.coords.equals(array.coords)
    assert result.attrs == reference.attrs == {"units": "m"}
    assert result.values.tobytes() == vm.exp(X.reshape(3, 4)).tobytes()


def test_masked_arrays_and_subclasses_come_back_as_numpy_returns_them():
    masked = np.ma.masked_array(X[:4], mask=[False, True, False, True])
    result = vm.exp(masked)
    assert isinstance(result, np.ma.MaskedArray)
    assert result.mask.tolist() == [False, True, False, True]
    assert np.array_equal(result.compressed(), vm.exp(X[[0, 2]]))
    with pytest.warns(PendingDeprecationWarning):
        matrix = np.matrix([[1.0, 2.0], [3.0, 4.0]])
    assert type(vm.sqrt(matrix)) is type(np.sqrt(matrix)) is np.matrix

    class Tagged(np.ndarray):
        pass

    tagged = X.view(Tagged)
    assert type(vm.add(tagged, 1.0)) is type(np.add(tagged, 1.0)) is Tagged
    assert type(vm.add(tagged, 1.0, subok=False)) is np.ndarray


@pytest.mark.parametrize("protocol", range(2, pickle.HIGHEST_PROTOCOL + 1))
def test_every_ufunc_pickles_by_reference(protocol):
    # An alias pickles by the ufunc's own name, which unpickles to the same object.
    for name in [*OPERATIONS, *vm_aliases()]:
        for namespace in (vm, vm.la, vm.ha, vm.ep):
            ufunc = getattr(namespace, name)
            data = pickle.dumps(ufunc, protocol=protocol)
            assert len(data) < 100 and pickle.loads(data) is ufunc
    for name in ("packv", "unpackm"):
        assert pickle.loads(pickle.dumps(getattr(vm, name), protocol=protocol)) is getattr(vm, name)


def test_pickling_vm_reaches_no_other_module():
    # vm and its accuracies pickle through a reducer of the module type: they stay plain
    # modules, whose attributes Python's caches serve (a module subclass cost 50 ns per
    # vm.exp(x)). Other modules are refused as before, subclasses left to their own ways.
    # A module __getattr__ keeps them from the caches too.
    assert type(vm) is type(vm.la) is types.ModuleType and "__getattr__" not in vars(vm)
    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
        assert pickle.loads(pickle.dumps([vm, vm.ep], protocol=protocol)) == [vm, vm.ep]
        with pytest.raises(TypeError, match="cannot pickle 'module' object"):
            pickle.dumps(json, protocol=protocol)

    class Reducible(types.ModuleType):
        def __reduce__(self):
            return str, ("its own way",)

    assert pickle.loads(pickle.dumps(Reducible("here"))) == "its own way"


def _exp_in_worker(values):
    return vm.ep.exp(values)


def test_multiprocessing_runs_vm_in_other_processes():
    context = multiprocessing.get_context("spawn")
    with context.Pool(1) as pool:
        (result,) = pool.map(_exp_in_worker, [X])
    assert result.tobytes() == vm.ep.exp(X).tobytes()


def test_dask_distributed_computes_vm_in_two_worker_processes(monkeypatch):
    distributed = pytest.importorskip("distributed")
    # The cluster sets MKL_NUM_THREADS=1 and the like in this process's environment too,
    # where the runtime would read them for the tests that follow.
    for name in ("OMP_NUM_THREADS", "MKL_NUM_THREADS", "OPENBLAS_NUM_THREADS"):
        monkeypatch.setenv(name, "")
        monkeypatch.delenv(name)
    da = pytest.importorskip("dask.array")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  host="127.0.0.1", dashboard_address=None,
                                  worker_dashboard_address=None, protocol="tcp",
                                  silence_logs=50) as cluster, \
            distributed.Client(cluster, timeout=60) as client:
        client.wait_for_workers(2, timeout=60)
        values = np.linspace(-3.0, 3.0, 10_000)
        lazy = vm.exp(da.from_array(values, chunks=1000))
        future = client.compute(lazy)
        result = future.result(timeout=60)
        workers = client.run(lambda: __import__("os").getpid(), wait=True)
    assert len(set(workers.values())) == 2
    assert result.tobytes() == vm.exp(values).tobytes()
