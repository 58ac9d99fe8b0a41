"""Where the library and the simulator are looked for, and in which order."""

import json
import os
import struct
from pathlib import Path

import pytest

import korvelan380
from korvelan380 import LibraryNotFoundError
from korvelan380._install import install_record, package_version
from korvelan380._native import file_version
from korvelan380._search import (
    PACKAGE_DIR,
    choose,
    dll_directories,
    library_candidates,
    sim_candidates,
)
from korvelan380._version import check_version
from test_sim import run_python

INSTALLED = Path("/opt/k/lib/python3.11/site-packages/korvelan380")


def places(candidates):
    return [origin for origin, _ in candidates]


class TestOrder:
    def test_an_explicit_path_then_the_environment_are_the_only_candidates(self):
        env = {"KORVELAN380_LIBRARY": "/from/env.so"}
        assert library_candidates("/given.so", env) == [("argument", "/given.so")]
        assert library_candidates(None, env) == [("KORVELAN380_LIBRARY", "/from/env.so")]

    def test_installed_package_then_prefix_then_build_tree_then_system(self):
        candidates = library_candidates(None, {"KORVELAN380_BUILD_DIR": "/b"}, INSTALLED)
        assert candidates[:3] == [
            ("package", str(INSTALLED / "_lib" / "libkorvelan380.so")),
            ("install prefix", "/opt/k/lib/libkorvelan380.so"),
            ("build tree", "/b/lib/libkorvelan380.so"),
        ]
        assert set(places(candidates[3:])) == {"system"}
        assert candidates[-1] == ("system", "libkorvelan380.so")

    def test_the_source_tree_uses_its_build_directory(self):
        source = Path("/src/repo/python/korvelan380")
        candidates = library_candidates(None, {}, source)
        assert "install prefix" not in places(candidates)
        assert ("build tree", "/src/repo/build/lib/libkorvelan380.so") in candidates

    def test_the_simulator_is_never_left_to_the_system_loader(self):
        env = {"KORVELAN380_BUILD_DIR": "/b"}
        assert sim_candidates(None, env, INSTALLED) == [
            ("package", str(INSTALLED / "_lib" / "sim" / "libftd2xx.so")),
            ("install prefix", "/opt/k/lib/korvelan380/sim/libftd2xx.so"),
            ("build tree", "/b/sim/libftd2xx.so"),
        ]
        assert sim_candidates(None, {"KORVELAN380_SIM_LIBRARY": "/s.so"}) == [
            ("KORVELAN380_SIM_LIBRARY", "/s.so")
        ]


def installed_package(root, library_dir, sim_dir, version="9.8.7"):
    """A package folder under root/usr/lib/python3/dist-packages with an install record."""
    package = root / "usr" / "lib" / "python3" / "dist-packages" / "korvelan380"
    package.mkdir(parents=True)
    record = {"version": version, "library_dir": library_dir, "sim_dir": sim_dir}
    (package / "_install.json").write_text(json.dumps(record))
    return package


class TestInstallRecord:
    def test_debian_multiarch_libdir_is_found_from_the_record(self, tmp_path):
        package = installed_package(
            tmp_path, "../../../x86_64-linux-gnu", "../../../x86_64-linux-gnu/korvelan380/sim"
        )
        libdir = tmp_path / "usr" / "lib" / "x86_64-linux-gnu"
        library = ("install prefix", str(libdir / "libkorvelan380.so"))
        simulator = ("install prefix", str(libdir / "korvelan380" / "sim" / "libftd2xx.so"))
        assert library_candidates(None, {}, package)[1] == library
        assert sim_candidates(None, {}, package)[1] == simulator

    def test_a_libdir_outside_lib_is_found_too(self, tmp_path):
        package = installed_package(tmp_path, "../../../../lib64", "../../../../lib64/k/sim")
        assert library_candidates(None, {}, package)[1] == (
            "install prefix",
            str(tmp_path / "usr" / "lib64" / "libkorvelan380.so"),
        )
        assert sim_candidates(None, {}, package)[1] == (
            "install prefix",
            str(tmp_path / "usr" / "lib64" / "k" / "sim" / "libftd2xx.so"),
        )

    def test_a_broken_record_falls_back_to_the_prefix_lib(self, tmp_path):
        package = installed_package(tmp_path, "x", "y")
        (package / "_install.json").write_text("{not json")
        assert library_candidates(None, {}, package)[1] == (
            "install prefix",
            str(tmp_path / "usr" / "lib" / "libkorvelan380.so"),
        )
        assert install_record(package) is None

    def test_the_version_is_the_recorded_one_when_installed(self, tmp_path):
        package = installed_package(tmp_path, ".", ".", version="2.3.4")
        assert package_version(package) == "2.3.4"

    @pytest.mark.skipif(
        "KORVELAN380_EXPECTED_VERSION" not in os.environ, reason="run by ctest, which knows it"
    )
    def test_the_source_tree_has_the_projects_version(self):
        assert korvelan380.__version__ == os.environ["KORVELAN380_EXPECTED_VERSION"]


class TestChoice:
    def test_the_first_file_that_exists_wins(self, tmp_path):
        later = tmp_path / "later.so"
        later.touch()
        candidates = [
            ("package", str(tmp_path / "missing.so")),
            ("build tree", str(later)),
            ("system", "libkorvelan380.so"),
        ]
        assert choose(candidates, "x") == ("build tree", str(later))
        assert choose(candidates[:1] + candidates[2:], "x") == ("system", "libkorvelan380.so")

    def test_a_missing_explicit_file_is_an_error_not_a_fallback(self, tmp_path):
        with pytest.raises(LibraryNotFoundError, match="missing.so"):
            choose([("argument", str(tmp_path / "missing.so"))], "x")

    def test_nothing_found_lists_every_place_tried(self, tmp_path):
        with pytest.raises(LibraryNotFoundError, match="a.so.*b.so"):
            choose(
                [("package", str(tmp_path / "a.so")), ("build tree", str(tmp_path / "b.so"))], "x"
            )


class TestLoading:
    def test_the_library_is_loaded_once_per_process(self, korvelan_module):
        lib = korvelan380.loaded_library()
        assert korvelan380.load_library() is lib
        assert korvelan380.load_library(lib.path) is lib
        with pytest.raises(RuntimeError):
            korvelan380.load_library("/another/libkorvelan380.so")

    def test_a_file_that_is_not_the_library_is_refused_by_name(self, korvelan_sim):
        result = run_python(
            f"""
            import korvelan380
            try:
                korvelan380.load_library({korvelan_sim.path!r})
            except korvelan380.LibraryNotFoundError as error:
                print(error)
            """
        )
        assert "not a usable korvelan380 library" in result.stdout, result.stderr
        assert "KORVELAN380_Connect" in result.stdout

    def test_the_system_loader_comes_last(self, korvelan_module):
        code = """
            import korvelan380
            try:
                print(korvelan380.load_library().origin)
            except korvelan380.LibraryNotFoundError as error:
                print(error)
            """
        elsewhere = {"KORVELAN380_LIBRARY": "", "KORVELAN380_BUILD_DIR": "/nonexistent"}
        lib_dir = str(Path(korvelan380.loaded_library().path).parent)
        found = run_python(code, LD_LIBRARY_PATH=lib_dir, **elsewhere)
        assert found.stdout.strip() == "system", found.stderr
        missing = run_python(code, LD_LIBRARY_PATH="/nonexistent", **elsewhere)
        assert "/nonexistent/lib/libkorvelan380.so (build tree)" in missing.stdout, missing.stderr


def build_library():
    build = Path(os.environ.get("KORVELAN380_BUILD_DIR") or Path(__file__).parents[2] / "build")
    library = build / "lib" / "libkorvelan380.so"
    if not library.exists():
        pytest.skip("no library built")
    return library


def copy_with_version(library, to, version):
    """A copy of the library whose version note says ``version``."""
    note = f'{{"korvelan380":"{korvelan380.__version__}"}}'.encode()
    data = library.read_bytes()
    assert data.count(note) == 1, "the library carries no version note"
    to.write_bytes(data.replace(note, f'{{"korvelan380":"{version}"}}'.encode()))
    return to


class TestVersion:
    def test_the_library_carries_the_projects_version_whatever_its_name(self, tmp_path):
        plain = tmp_path / "libkorvelan380.so"
        plain.write_bytes(build_library().read_bytes())
        assert file_version(str(plain)) == korvelan380.__version__
        check_version(str(plain), "package")  # accepted

    def test_another_version_is_refused_naming_both_versions_and_paths(self, tmp_path):
        other = copy_with_version(build_library(), tmp_path / "libkorvelan380.so", "9.9.9")
        with pytest.raises(LibraryNotFoundError) as caught:
            check_version(str(other), "package")
        message = str(caught.value)
        for part in [str(other), "9.9.9", korvelan380.__version__, str(PACKAGE_DIR)]:
            assert part in message

    def test_without_a_note_the_versioned_file_name_tells(self, tmp_path):
        (tmp_path / "libkorvelan380.so.9.9.9").write_bytes(b"not ELF")
        (tmp_path / "libkorvelan380.so").symlink_to("libkorvelan380.so.9.9.9")
        (tmp_path / "plain").mkdir()
        (tmp_path / "plain" / "libkorvelan380.so").write_bytes(b"\x7fELF truncated")
        assert file_version(str(tmp_path / "libkorvelan380.so")) == "9.9.9"
        with pytest.raises(LibraryNotFoundError, match="9.9.9"):
            check_version(str(tmp_path / "libkorvelan380.so"), "build tree")
        assert file_version(str(tmp_path / "plain" / "libkorvelan380.so")) is None
        check_version(str(tmp_path / "plain" / "libkorvelan380.so"), "package")  # cannot tell

    @staticmethod
    def dll(product="korvelan380", version=(2, 3, 4), signature=0xFEEF04BD):
        """A DLL's bytes as far as its version resource: the resource's three 16-bit fields, its
        key, the fixed part at the next 32-bit boundary, and its product name."""
        major, minor, patch = version
        key = "VS_VERSION_INFO\0".encode("utf-16-le")
        resource = struct.pack("<HHH", 0, 52, 0) + key + b"\0\0"
        resource += struct.pack("<IIII", signature, 0x10000, major << 16 | minor, patch << 16)
        name = f"ProductName\0{product}\0".encode("utf-16-le")
        return b"MZ" + bytes(62) + resource + bytes(36) + name

    def test_a_dll_of_ours_tells_its_version_by_its_resource_and_only_then(self, tmp_path):
        dll = tmp_path / "korvelan380.dll"
        cases = {
            self.dll(): "2.3.4",
            self.dll(product="another"): None,  # not ours, whatever it says
            self.dll(signature=0x12345678): None,  # not a version resource
            self.dll()[:90]: None,  # cut short within the fixed part
            b"MZ" + "korvelan380\0".encode("utf-16-le"): None,  # no resource at all
        }
        for data, version in cases.items():
            dll.write_bytes(data)
            assert file_version(str(dll)) == version, data

    def test_loading_refuses_it_before_anything_is_loaded(self, tmp_path):
        other = copy_with_version(build_library(), tmp_path / "libkorvelan380.so", "9.9.9")
        result = run_python(
            f"""
            import korvelan380
            try:
                korvelan380.load_library({str(other)!r})
            except korvelan380.LibraryNotFoundError as error:
                print("refused", korvelan380.loaded_library())
            """
        )
        assert result.stdout.strip() == "refused None", result.stderr

    def test_a_wheels_record_points_into_the_package_and_is_not_tried_twice(self, tmp_path):
        package = tmp_path / "site-packages" / "korvelan380"
        package.mkdir(parents=True)
        record = {"version": "1.2.3", "library_dir": "_lib", "sim_dir": "_lib/sim"}
        (package / "_install.json").write_text(json.dumps(record))
        env = {"KORVELAN380_BUILD_DIR": "/b"}
        assert places(library_candidates(None, env, package)) == ["package", "build tree", "system"]
        assert places(sim_candidates(None, env, package)) == ["package", "build tree"]
        assert package_version(package) == "1.2.3"


class TestWindowsSearch:
    """The same choice of files and folders on Windows, decided here without Windows."""

    def test_dll_names_the_build_trees_bin_and_path_in_place_of_the_system_loader(self):
        env = {"KORVELAN380_BUILD_DIR": "/b", "PATH": r"C:\Tools;;D:\korvelan380\bin"}
        candidates = library_candidates(None, env, INSTALLED, platform="win32")
        assert candidates == [
            ("package", str(INSTALLED / "_lib" / "korvelan380.dll")),
            ("build tree", "/b/bin/korvelan380.dll"),
            ("PATH", r"C:\Tools\korvelan380.dll"),
            ("PATH", r"D:\korvelan380\bin\korvelan380.dll"),
        ]
        assert "system" not in places(candidates)

    def test_the_zips_record_points_at_bin_and_sim(self, tmp_path):
        # The ZIP's layout: python\korvelan380 beside bin\ and sim\.
        package = tmp_path / "python" / "korvelan380"
        package.mkdir(parents=True)
        record = {"version": "0.1.0", "library_dir": "../../bin", "sim_dir": "../../sim"}
        (package / "_install.json").write_text(json.dumps(record))
        env = {"KORVELAN380_BUILD_DIR": "/b", "PATH": ""}
        assert library_candidates(None, env, package, platform="win32")[1] == (
            "install prefix",
            str(tmp_path / "bin" / "korvelan380.dll"),
        )
        assert sim_candidates(None, env, package, platform="win32") == [
            ("package", str(package / "_lib" / "sim" / "FTD2XX.dll")),
            ("install prefix", str(tmp_path / "sim" / "FTD2XX.dll")),
            ("build tree", "/b/bin/FTD2XX.dll"),
        ]

    def test_a_hand_copied_package_guesses_no_posix_prefix(self):
        env = {"KORVELAN380_BUILD_DIR": "/b"}
        assert "install prefix" not in places(library_candidates(None, env, INSTALLED, "win32"))
        assert "install prefix" not in places(sim_candidates(None, env, INSTALLED, "win32"))

    def test_explicit_choices_are_the_only_candidates_as_on_linux(self):
        env = {"KORVELAN380_LIBRARY": r"C:\k.dll", "KORVELAN380_SIM_LIBRARY": r"C:\s.dll"}
        assert library_candidates(None, env, platform="win32") == [
            ("KORVELAN380_LIBRARY", r"C:\k.dll")
        ]
        assert sim_candidates(None, env, platform="win32") == [
            ("KORVELAN380_SIM_LIBRARY", r"C:\s.dll")
        ]

    def test_a_path_folder_is_chosen_when_it_holds_the_dll(self, tmp_path):
        (tmp_path / "korvelan380.dll").touch()
        found = str(tmp_path / "korvelan380.dll")
        candidates = [("package", str(tmp_path / "none.dll")), ("PATH", found)]
        assert choose(candidates, "x") == ("PATH", found)

    def test_only_a_dll_loaded_by_full_path_on_windows_adds_its_folder(self):
        assert dll_directories(r"C:\k\bin\korvelan380.dll", "win32") == [r"C:\k\bin"]
        assert dll_directories("korvelan380.dll", "win32") == []
        assert dll_directories("/usr/lib/libkorvelan380.so", "linux") == []
