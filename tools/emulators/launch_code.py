"""The launch code the simulators check on every launch message.

The simulators hold their own copy of the two constants shared with the
bridge; this is that copy for the emulated simulators.
"""

LAUNCH_CODE_MULTIPLIER = 73
LAUNCH_CODE_OFFSET = 2459

INT32_MIN, INT32_MAX = -2**31, 2**31 - 1


def expected_launch_code(back_spin: int, ball_angle: int) -> int:
    """back spin x multiplier x angle + offset in 32-bit arithmetic; 0 on overflow."""
    value = back_spin * LAUNCH_CODE_MULTIPLIER
    if not INT32_MIN <= value <= INT32_MAX:
        return 0
    value *= ball_angle
    if not INT32_MIN <= value <= INT32_MAX:
        return 0
    value += LAUNCH_CODE_OFFSET
    return value if INT32_MIN <= value <= INT32_MAX else 0


def check_launch(data: dict) -> tuple[bool, str]:
    """Checks the launchCode of a launch message's DATA object."""
    try:
        back_spin = int(data["backSpin"])
        ball_angle = int(round(float(data["ballAngle"])))
        code = int(data["launchCode"])
    except (KeyError, ValueError, TypeError) as error:
        return False, f"unreadable launch message ({error})"
    expected = expected_launch_code(back_spin, ball_angle)
    if code != expected:
        return False, f"launch code {code}, expected {expected}"
    return True, "launch code ok"
