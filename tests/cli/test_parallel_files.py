"""Several varnex processes side by side on one machine, as a production line runs them: two
receives into one folder, two bitmap sends, each with its own unit; every run ends with its
own unit's bytes and leaves nothing of its own behind."""
import os

from simunits import BITMAP, SETTINGS, Varnex, sha

FINISH_S = 60
ROUNDS = 10


def start(unit, args, env=None):
    return Varnex(list(args) + ["--port", unit.link], [unit], env)


def finish(runs):
    for run in runs:
        code, out, err = run.wait(FINISH_S)
        assert code == 0, out + err


def test_two_receives_into_one_folder_each_save_their_own_units_bytes(units, tmp_path):
    a, b = units(2)
    sources = tmp_path / "sources"
    sources.mkdir()
    folder = tmp_path / "backups"
    folder.mkdir()
    for round_number in range(ROUNDS):
        contents = {}
        for unit, name in ((a, "a"), (b, "b")):
            data = os.urandom(3000 + round_number) + name.encode() * 64
            source = sources / ("%s.bin" % name)
            source.write_bytes(data)
            assert unit.request(cmd="content_set", what="file", kind=SETTINGS, path=str(source))["ok"]
            contents[name] = data
        finish([start(a, ["settings", "get", str(folder / "a.bin")]),
                start(b, ["settings", "get", str(folder / "b.bin")])])
        assert (folder / "a.bin").read_bytes() == contents["a"], round_number
        assert (folder / "b.bin").read_bytes() == contents["b"], round_number
        assert sorted(os.listdir(folder)) == ["a.bin", "b.bin"], round_number


def test_two_bitmap_sends_at_once_each_send_their_own_image(units, tmp_path):
    a, b = units(2)
    temp = tmp_path / "temp"
    temp.mkdir()
    images = {"a": bytes(range(0, 200)), "b": bytes(range(255, 55, -1))}
    texts = {}
    for name, image in images.items():
        texts[name] = tmp_path / ("%s.txt" % name)
        lines = [", ".join("0x%02X" % byte for byte in image[i:i + 16]) for i in range(0, len(image), 16)]
        texts[name].write_text(",\n".join(lines) + "\n")
    env = {"TMPDIR": str(temp)}
    finish([start(a, ["bitmap", "send", str(texts["a"])], env),
            start(b, ["bitmap", "send", str(texts["b"])], env)])
    for unit, name in ((a, "a"), (b, "b")):
        got = unit.request(cmd="received", what="file").get("last") or {}
        assert got.get("kind") == BITMAP and got.get("sum_matches"), got
        assert got.get("sha256") == sha(images[name]), (name, got)
    assert os.listdir(temp) == []
