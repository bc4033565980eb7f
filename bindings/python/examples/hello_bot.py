#!/usr/bin/env python3
"""hello_bot: one bot that enters a world, prints every chat line it hears as
"Name: text" and answers "hello bot" with a whisper. Ctrl-C logs it out.

Usage: hello_bot.py HOST PORT OWNER PASSWORD WORLD
"""

import os
import signal
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))

import worldlink as wl  # noqa: E402

stop_requested = False


def on_interrupt(signal_number, frame):
    global stop_requested
    stop_requested = True


def on_chat():
    """The library made the hearing instance current and filled the chat
    attributes before calling."""
    name = wl.wl_string(wl.ATTR_AVATAR_NAME)
    text = wl.wl_string(wl.ATTR_CHAT_MESSAGE)
    print(f"{name}: {text}", flush=True)
    if text.lower() == "hello bot":
        try:
            wl.wl_whisper(wl.wl_int(wl.ATTR_CHAT_SESSION), f"Hello, {name}")
        except wl.WorldlinkError as error:
            print(f"hello_bot: whisper failed (reason {error.code})", file=sys.stderr)


def run(host, port, owner, password, world):
    step = "start"
    try:
        wl.wl_init(wl.LIBRARY_BUILD)
        wl.wl_event_set(wl.EVENT_CHAT, on_chat)

        step = "connect"
        bot = wl.wl_create(host, port)
        wl.wl_string_set(wl.ATTR_LOGIN_NAME, "HelloBot")
        wl.wl_int_set(wl.ATTR_LOGIN_OWNER, owner)
        wl.wl_string_set(wl.ATTR_LOGIN_PASSWORD, password)
        wl.wl_string_set(wl.ATTR_LOGIN_APPLICATION, "hello_bot")
        step = "login"
        wl.wl_login()

        wl.wl_instance_set(bot)
        step = "enter"
        wl.wl_enter(world)

        # Show the bot at the world's origin, facing north.
        wl.wl_instance_set(bot)
        for attribute in (wl.ATTR_MY_X, wl.ATTR_MY_Y, wl.ATTR_MY_Z, wl.ATTR_MY_YAW):
            wl.wl_int_set(attribute, 0)
        step = "state change"
        wl.wl_state_change()
    except wl.WorldlinkError as error:
        print(f"hello_bot: {step} failed (reason {error.code})", file=sys.stderr)
        wl.wl_term()
        return 1
    print(f"hello_bot: in world {world}", file=sys.stderr, flush=True)

    signal.signal(signal.SIGINT, on_interrupt)
    while not stop_requested:
        wl.wl_wait(100)

    wl.wl_term()
    print("hello_bot: logged out", file=sys.stderr)
    return 0


def main(argv):
    if len(argv) != 6:
        print(f"usage: {argv[0]} HOST PORT OWNER PASSWORD WORLD", file=sys.stderr)
        return 1
    host, port, owner, password, world = argv[1:]
    return run(host, int(port), int(owner), password, world)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
