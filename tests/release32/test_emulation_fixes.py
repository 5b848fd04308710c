"""What a 32-bit program sees through the kovrel-i386 binfmt entry: the kernel's behaviour where 32-bit Wine
depends on it, which qemu-i386 alone does not give (tests/support/i386/wine32_fixes.c). The checks run in
fixes_check.c, a plain 32-bit Linux program, without Wine."""
import subprocess
from pathlib import Path

import pytest

CHECKS = [
    "fixed_noreplace_on_a_taken_range_fails_with_eexist",
    "fixed_noreplace_on_a_free_range_maps_there",
    "new_gdt_tls_entry_is_refused",
    "tls_selector_is_in_the_ldt",
    "own_tls_after_signals_while_a_newer_thread_runs",
    "page_fault_has_trap_14_and_its_address",
]


@pytest.fixture(scope="module")
def results(tmp_path_factory):
    program = tmp_path_factory.mktemp("fixes") / "fixes_check"
    subprocess.run(["gcc", "-m32", "-O1", "-Wall", "-pthread", "-o", str(program),
                    str(Path(__file__).with_name("fixes_check.c"))], check=True)
    run = subprocess.run([str(program)], stdout=subprocess.PIPE, timeout=120, check=False, text=True)
    found = {"exit": run.returncode}
    for line in run.stdout.splitlines():
        verdict, _, rest = line.partition(" ")
        name, _, detail = rest.partition(": ")
        found[name] = (verdict, detail)
    return found


@pytest.mark.parametrize("check", CHECKS)
def test_32_bit_program_sees_kernel_behaviour(check, results):
    assert check in results, f"the check did not run: {results}"
    verdict, detail = results[check]
    assert verdict == "ok", detail
