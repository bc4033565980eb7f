"""The Python binding: its constants against the compiled header, reason codes
raised as WorldlinkError, and the example bot answering a chat in worldsim.

Run as: binding_test.py CASE, with CASE one of the classes below. The
environment names what the cases need: WORLDLINK_LIBRARY (the shared
library; without it the cases that call the library exit 77, skipped),
WORLDSIM, CC and WORLDLINK_SOURCE (the source tree).
"""

import importlib.util
import json
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

SOURCE = os.environ.get("WORLDLINK_SOURCE", os.path.join(os.path.dirname(__file__), "..", ".."))
BINDING = os.path.join(SOURCE, "bindings", "python")
SKIPPED = 77


def load_header_module():
    """worldlink.header alone: it needs no library."""
    path = os.path.join(BINDING, "worldlink", "header.py")
    found = importlib.util.spec_from_file_location("worldlink_header", path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def deadline(seconds):
    end = time.monotonic() + seconds
    return lambda: time.monotonic() < end


class Constants(unittest.TestCase):
    """Every constant as the C compiler sees it, and nothing left out."""

    def test_constants_match_the_compiled_header(self):
        constants, words = load_header_module().load(os.path.join(SOURCE, "worldlink", "worldlink.h"))
        lines = ['#include <stdio.h>', '#include "worldlink/worldlink.h"', "int main(void) {"]
        lines += [f'    printf("{name} %d\\n", (int){name});' for name in sorted(constants)]
        lines += ['#define WORDS(code, name, words) printf("words %d %s\\n", code, words);',
                  "    WL_REASONS(WORDS)", "    return 0;", "}"]
        with tempfile.TemporaryDirectory() as work:
            program = os.path.join(work, "constants")
            with open(program + ".c", "w") as source:
                source.write("\n".join(lines) + "\n")
            subprocess.run([os.environ.get("CC", "cc"), "-std=c11", "-I", SOURCE, program + ".c", "-o", program],
                           check=True)
            printed = subprocess.run([program], check=True, capture_output=True, text=True).stdout.splitlines()
        compiled, compiled_words = {}, {}
        for line in printed:
            name, rest = line.split(" ", 1)
            if name == "words":
                code, said = rest.split(" ", 1)
                compiled_words[int(code)] = said
            else:
                compiled[name] = int(rest)
        self.assertEqual(constants, compiled)
        self.assertEqual(words, compiled_words)
        for prefix, count in (("ATTR_", "ATTR_COUNT"), ("EVENT_", "EVENT_COUNT")):
            numbers = sorted(v for k, v in constants.items() if k.startswith(prefix) and k != count)
            self.assertEqual(numbers, list(range(constants[count])), prefix)


class Library(unittest.TestCase):
    """Cases that call the shared library."""

    @classmethod
    def setUpClass(cls):
        sys.path.insert(0, BINDING)
        import worldlink
        cls.wl = worldlink

    def tearDown(self):
        self.wl.wl_term()


class Failures(Library):
    def test_a_failing_call_raises_its_code_and_words(self):
        wl = self.wl
        cases = [
            ("wl_init", lambda: wl.wl_init(wl.LIBRARY_BUILD + 1), 454, "version mismatch"),
            ("wl_wait", lambda: wl.wl_wait(0), 444, "not initialized"),
            ("wl_init", lambda: wl.wl_init(wl.LIBRARY_BUILD), None, None),
            ("wl_destroy", wl.wl_destroy, 445, "no instance"),
            ("wl_event_set", lambda: wl.wl_event_set(wl.EVENT_COUNT, print), 448, "invalid attribute"),
            ("wl_int_set", lambda: wl.wl_int_set(wl.ATTR_COUNT, 1), 445, "no instance"),
            ("wl_create", lambda: wl.wl_create("127.0.0.1", 70000), 429, "unable to connect"),
        ]
        for call, run, code, words in cases:
            with self.subTest(call=call, code=code):
                if code is None:
                    run()
                    continue
                with self.assertRaises(wl.WorldlinkError) as raised:
                    run()
                self.assertEqual((raised.exception.code, raised.exception.words, raised.exception.call),
                                 (code, words, call))
        self.assertEqual(wl.wl_reason_words(wl.REASON_CANCELED), "canceled")
        self.assertEqual(wl.wl_reason_words(12345), "reason 12345")
        # The library that runs is the one whose header the binding read.
        self.assertEqual(wl.wl_version(), wl.WL_VERSION_MAJOR * 10000 + wl.WL_VERSION_MINOR * 100 + wl.WL_VERSION_PATCH)
        self.assertTrue(wl.wl_build_string().endswith(f"(build {wl.LIBRARY_BUILD})"), wl.wl_build_string())


class ExampleBot(Library):
    """examples/hello_bot.py in a world of worldsim answers a visitor's chat."""

    def request(self, viewer, path, body=None):
        data = None if body is None else json.dumps(body).encode()
        request = urllib.request.Request(f"http://127.0.0.1:{viewer}{path}", data=data,
                                         headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=5) as reply:
            return json.load(reply)

    def test_the_example_bot_answers_a_chat(self):
        worldsim = subprocess.Popen([os.environ["WORLDSIM"], "--port", "0", "--viewer-port", "0", "--world", "demo"],
                                    stdout=subprocess.PIPE, text=True)
        self.addCleanup(worldsim.wait, 10)
        self.addCleanup(worldsim.terminate)
        words = worldsim.stdout.readline().split()
        self.assertEqual(words[0], "universe", words)
        universe = int(words[1].rsplit(":", 1)[1])
        viewer = int(words[3].rstrip("/").rsplit(":", 1)[1])

        bot = subprocess.Popen([sys.executable, os.path.join(BINDING, "examples", "hello_bot.py"), "127.0.0.1",
                                str(universe), "7", "secret", "demo"],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.addCleanup(bot.kill)
        self.assertEqual(bot.stderr.readline(), "hello_bot: in world demo\n")

        self.request(viewer, "/api/worlds/demo/say", {"text": "hello bot"})
        whispers = []
        running = deadline(10)
        while running() and not whispers:
            time.sleep(0.05)
            whispers = [line for line in self.request(viewer, "/api/worlds/demo/chat?after=0")
                        if line["kind"] == "whisper"]
        self.assertEqual([(w["from_name"], w["to_name"], w["text"]) for w in whispers],
                         [("HelloBot", "Visitor", "Hello, Visitor")])

        bot.send_signal(signal.SIGINT)
        out, errors = bot.communicate(timeout=10)
        self.assertEqual(bot.returncode, 0)
        self.assertEqual(out, "Visitor: hello bot\n")
        self.assertEqual(errors, "hello_bot: logged out\n")


def main(case):
    needs_library = issubclass(globals()[case], Library)
    if needs_library and not os.environ.get("WORLDLINK_LIBRARY"):
        print(f"{case}: skipped, no shared library in this build")
        return SKIPPED
    suite = unittest.defaultTestLoader.loadTestsFromTestCase(globals()[case])
    return 0 if unittest.TextTestRunner(verbosity=2).run(suite).wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
