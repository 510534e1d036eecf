"""What goes into the Debian package, checked without building it (scripts/package builds it
and runs lintian): the desktop entry, the AppStream metainfo, the man page, the copyright
file and the changelog, the package description, and the hardening flags of the package build."""

import gzip
import json
import os
import re
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "common"))
from script_test import BINARY_DIR, HOPWELL, SOURCE_DIR  # noqa: E402
from script_test import require_tools as require  # noqa: E402

DESKTOP = os.path.join(SOURCE_DIR, "desktop")


def run(*command):
    return subprocess.run(list(command), capture_output=True, text=True, timeout=120)


class PackageInputsTest(unittest.TestCase):
    def test_desktop_entry_and_metainfo_validate(self):
        require(self, "desktop-file-validate", "appstreamcli")
        entry = os.path.join(DESKTOP, "hopwell.desktop")
        metainfo = os.path.join(DESKTOP, "com.kelvory.hopwell.metainfo.xml")
        for command in (["desktop-file-validate", entry],
                        ["appstreamcli", "validate", "--no-net", "--pedantic", metainfo]):
            with self.subTest(command[0]):
                result = run(*command)
                self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                self.assertNotRegex(result.stdout + result.stderr, r"(?m)^[EWIP]: ")
        with open(entry) as f:
            self.assertRegex(f.read(), r"(?m)^Keywords=(\w[^;\n]*;)+$")
        with open(metainfo) as f:
            self.assertIn("<launchable type=\"desktop-id\">hopwell.desktop</launchable>", f.read())

    def test_man_page_renders_cleanly_and_covers_the_client(self):
        require(self, "man")
        page = os.path.join(DESKTOP, "hopwell.1")
        result = subprocess.run(["man", "--warnings=all", "-E", "UTF-8", "-l", page],
                                capture_output=True, text=True, timeout=60,
                                env=dict(os.environ, MANWIDTH="80", MAN_KEEP_FORMATTING="0"))
        self.assertEqual((result.returncode, result.stderr), (0, ""))
        text = re.sub(r".\x08", "", result.stdout)
        for heading in ("NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "EXIT STATUS", "ENVIRONMENT",
                        "FILES"):
            self.assertRegex(text, r"(?m)^%s$" % heading)
        # Every option the client takes, and every variable it reads that a user may set.
        usage = run(HOPWELL, "--help").stdout
        for option in set(re.findall(r"--[a-z]+", usage)):
            self.assertIn(option, text)
        for variable in ("HOPWELL_CA_FILE", "HOPWELL_CONNECT_TIMEOUT", "HOPWELL_IDLE_TIMEOUT",
                         "https_proxy", "TMPDIR", "XDG_DATA_HOME", "XDG_CONFIG_HOME",
                         "XDG_RUNTIME_DIR"):
            self.assertIn(variable, text)

    def test_copyright_changelog_and_description(self):
        with open(os.path.join(DESKTOP, "debian", "copyright")) as f:
            copyright = f.read()
        self.assertRegex(copyright, r"^Format: https://www\.debian\.org/doc/packaging-manuals/"
                                    r"copyright-format/1\.0/\n")
        self.assertRegex(copyright, r"(?m)^Files: \*\nCopyright: .+\nLicense: \S+\n( .+\n)+")

        docs = os.path.join(BINARY_DIR, "desktop", "docs")
        for name in ("changelog.gz", "hopwell.1.gz"):
            with open(os.path.join(docs, name), "rb") as f:
                header = f.read(10)
            self.assertEqual(header[4:8], b"\0\0\0\0", name + ": no time stamp (gzip -n)")
        require(self, "dpkg-parsechangelog")
        changelog = os.path.join(BINARY_DIR, "desktop", "changelog")
        parsed = run("dpkg-parsechangelog", "-l", changelog)
        self.assertEqual(parsed.returncode, 0, parsed.stderr)
        self.assertIn("\nVersion: 1.7.1\n", parsed.stdout)
        with gzip.open(os.path.join(docs, "changelog.gz"), "rt") as f, open(changelog) as g:
            self.assertEqual(f.read(), g.read())

        with open(os.path.join(BINARY_DIR, "CPackConfig.cmake")) as f:
            config = f.read()
        summary = re.search(r'set\(CPACK_PACKAGE_DESCRIPTION_SUMMARY "(.*)"\)', config).group(1)
        description = re.search(r'set\(CPACK_PACKAGE_DESCRIPTION "(.*?)"\)', config, re.S).group(1)
        self.assertLessEqual(len(summary), 80)
        for line in description.replace("\\n", "\n").splitlines():
            self.assertLess(len(line) + 1, 80, line)  # dpkg indents each line by one blank

    def test_depends_on_the_packages_of_both_platform_plugins(self):
        # Qt loads its platform plugins at run time, out of dpkg-shlibdeps' sight.
        with open(os.path.join(BINARY_DIR, "CPackConfig.cmake")) as f:
            depends = re.search(r'set\(CPACK_DEBIAN_PACKAGE_DEPENDS "(.*)"\)', f.read()).group(1)
        named = {re.split(r"[ (]", d.strip())[0] for d in depends.split(",")}
        plugins = {"libqt6gui6": "libqxcb.so", "qt6-wayland": "libqwayland-generic.so"}
        self.assertLessEqual(set(plugins), named, depends)
        require(self, "dpkg-query")
        for package, plugin in plugins.items():
            listed = run("dpkg-query", "-L", package)
            if listed.returncode != 0:
                continue  # not installed here: nothing to hold against the name
            with self.subTest(package):
                self.assertIn("/qt6/plugins/platforms/" + plugin, listed.stdout)

    def test_hardening_flags_make_a_hardened_program(self):
        # The package preset turns HOPWELL_HARDENING on; a probe built with the same
        # cmake/Hardening.cmake is checked as lintian checks the packaged client.
        require(self, "readelf", "cmake", "ninja")
        with open(os.path.join(SOURCE_DIR, "CMakePresets.json")) as f:
            presets = {p["name"]: p for p in json.load(f)["configurePresets"]}
        self.assertEqual(presets["package"]["cacheVariables"].get("HOPWELL_HARDENING"), "ON")
        with tempfile.TemporaryDirectory() as work:
            with open(os.path.join(work, "CMakeLists.txt"), "w") as f:
                f.write("cmake_minimum_required(VERSION 3.25)\nproject(Probe CXX)\n"
                        "include(%s)\nadd_executable(probe probe.cpp)\n"
                        % os.path.join(SOURCE_DIR, "cmake", "Hardening.cmake"))
            with open(os.path.join(work, "probe.cpp"), "w") as f:
                f.write(HARDENING_PROBE)
            build = os.path.join(work, "build")
            for command in (["cmake", "-S", work, "-B", build, "-G", "Ninja",
                             "-DCMAKE_BUILD_TYPE=RelWithDebInfo"],
                            ["cmake", "--build", build]):
                result = run(*command)
                self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
            probe = os.path.join(build, "probe")
            header = run("readelf", "-hW", probe).stdout
            segments = run("readelf", "-lW", probe).stdout
            dynamic = run("readelf", "-dW", probe).stdout
            symbols = run("readelf", "--dyn-syms", "-W", probe).stdout
        self.assertRegex(header, r"Type:\s+DYN ")  # position-independent executable
        self.assertRegex(dynamic, r"FLAGS_1\)\s+Flags:.*\bPIE\b")
        self.assertIn("GNU_RELRO", segments)
        self.assertRegex(dynamic, r"FLAGS_1\)\s+Flags:.*\bNOW\b|\(FLAGS\)\s+.*BIND_NOW")
        self.assertIn("__stack_chk_fail", symbols)
        self.assertIn("__read_chk", symbols, "fortified libc calls")


# Reads into a stack buffer: a stack protector guards it and FORTIFY_SOURCE checks the read.
HARDENING_PROBE = """#include <unistd.h>
#include <cstdio>
int main(int argc, char**) {
  char buffer[64];
  const ssize_t got = read(0, buffer, static_cast<size_t>(argc) * 16);
  std::printf("%d\\n", static_cast<int>(got > 0 ? buffer[0] : 0));
  return 0;
}
"""

if __name__ == "__main__":
    unittest.main()
