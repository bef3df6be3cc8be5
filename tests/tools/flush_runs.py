"""What the flush tests of both targets share: the launchers of two versions
of a game, from either home of the archive, and a first install followed by
an update, each run checked by the test's own check_run."""

from pathlib import Path

from launcher_harness import fresh_dir
from unpack_common import unzip_tree

VERSION_OPTIONS = ("version_a", "version_a_archive", "version_b", "version_b_archive",
                   "version_a_file", "version_b_file")


def add_version_options(parser):
    for option in VERSION_OPTIONS:
        parser.add_argument("--" + option.replace("_", "-"), required=True)


def resolve_version_options(args):
    """The launchers run in folders of their own: every path made absolute."""
    for option in VERSION_OPTIONS:
        setattr(args, option, str(Path(getattr(args, option)).resolve()))


def version_trees(args, scratch):
    """{"a": tree, "b": tree} of the two versions' archives."""
    return {name: unzip_tree(archive, scratch / ("unzip " + name))
            for name, archive in [("a", args.version_a_archive), ("b", args.version_b_archive)]}


def files_to_change(tree, before):
    """The files of `tree` whose bytes differ from those of `before`."""
    return {name for name, content in tree.items()
            if content is not None and before.get(name) != content}


class FirstInstallAndUpdate:
    """A test case's first install and update from either home. The class
    using it holds `args`, `scratch` and `trees`, and checks each run in
    check_run(launcher, folder, label, archive, tree, tree before)."""

    def test_first_install_and_update_from_either_home(self):
        args = self.args
        homes = [("image", args.version_a, args.version_b),
                 ("file", args.version_a_file, args.version_b_file)]
        for home, version_a, version_b in homes:
            with self.subTest(home):
                folder = fresh_dir(self.scratch / home)
                self.check_run(version_a, folder, home + " first install",
                               args.version_a_archive, self.trees["a"], {})
                self.check_run(version_b, folder, home + " update", args.version_b_archive,
                               self.trees["b"], self.trees["a"])
