"""Rules that run trovex in Bazel actions, so that a remote cache shares every output.

Each file has a tree path: its path below its package, less the `root` prefix. Outputs are declared
at `ROOT/TREE_PATH` below the rule's package, so that a bundle in the same package with the same
root finds them where trovex would have written them.
"""

TrovexBundleInfo = provider(
    doc = "A bundle made by trovex_bundle or trovex_patch.",
    fields = {"bundle": "The bundle file", "listing": "Its listing, BUNDLE.log"},
)

_TOOL_ATTRS = {
    "trovex": attr.label(
        default = Label("@trovex_binary//:trovex"),
        executable = True,
        cfg = "exec",
        allow_single_file = True,
        doc = "The trovex binary: a prebuilt file, e.g. build/trovex of a checkout.",
    ),
    "_runner": attr.label(
        default = Label("//bazel:trovex_run.sh"),
        executable = True,
        cfg = "exec",
        allow_single_file = True,
    ),
}

def _tree_path(f, root):
    base = "/".join([p for p in [f.root.path, f.owner.workspace_root, f.owner.package] if p])
    path = f.path[len(base) + 1:] if base else f.path
    if root:
        if not path.startswith(root + "/"):
            fail("%s is not below the root %s" % (f.short_path, root))
        path = path[len(root) + 1:]
    return path

def _declare(ctx, root, path):
    return ctx.actions.declare_file(root + "/" + path if root else path)

def _run(ctx, mnemonic, message, inputs, outputs, trovex_args):
    """One trovex action. inputs: (File, tree path) pairs; outputs: (path from the tree, File) pairs."""
    args = ctx.actions.args()
    args.use_param_file("@%s", use_always = False)
    args.set_param_file_format("multiline")
    args.add(ctx.executable.trovex)

    # Inside the action's output tree, so that it works in a sandbox and on a remote executor alike.
    args.add(outputs[0][1].path + ".trovex-work")
    for f, path in inputs:
        args.add_all(["in", f, path])
    for path, f in outputs:
        args.add_all(["out", path, f])
    args.add("--")
    args.add_all(trovex_args)
    ctx.actions.run(
        executable = ctx.executable._runner,
        arguments = [args],
        inputs = depset([f for f, _ in inputs]),
        outputs = [f for _, f in outputs],
        tools = [ctx.executable.trovex],
        mnemonic = mnemonic,
        progress_message = message,
        # A fixed PATH: the client's would enter the action key and spoil cache hits across machines.
        env = {"PATH": "/bin:/usr/bin"},
    )

def _swap_ext(path, old, new):
    if not path.endswith(old):
        fail("%s does not end in %s" % (path, old))
    return path[:-len(old)] + new

def _xml_impl(ctx):
    includes = [(f, _tree_path(f, ctx.attr.root)) for f in ctx.files.includes]
    outs = []
    for src in ctx.files.srcs:
        path = _tree_path(src, ctx.attr.root)
        xmb = _swap_ext(path, ".xml", ".xmb")
        out = _declare(ctx, ctx.attr.root, xmb)
        outs.append(out)
        inputs = [(src, path)] + [(f, p) for f, p in includes if p != path]
        _run(ctx, "TrovexXml", "trovex compile-xml " + path, inputs, [(xmb, out)], ["compile-xml", "-r", ".", path])
    return [DefaultInfo(files = depset(outs))]

trovex_xml = rule(
    implementation = _xml_impl,
    doc = "Compiles each XML file of srcs into NAME.xmb, one action each.",
    attrs = dict(_TOOL_ATTRS, **{
        "srcs": attr.label_list(allow_files = [".xml"], doc = "The XML files to compile."),
        "includes": attr.label_list(allow_files = True, doc = "Files the sources may include (every one is an input of every action)."),
        "root": attr.string(doc = "The content root below the package, that includes are relative to."),
    }),
)

def _scripts_impl(ctx):
    outs = []
    flags = ["-s"] if ctx.attr.strip else []
    for src in ctx.files.srcs:
        path = _tree_path(src, ctx.attr.root)
        kxe = _swap_ext(path, ".ksf", ".kxe")
        out = _declare(ctx, ctx.attr.root, kxe)
        outs.append(out)

        # Debug information names the source by its path from the root, as the game's loads do.
        _run(ctx, "TrovexScripts", "trovex compile-scripts " + path, [(src, path)], [(kxe, out)], ["compile-scripts"] + flags + [path])
    return [DefaultInfo(files = depset(outs))]

trovex_scripts = rule(
    implementation = _scripts_impl,
    doc = "Compiles each script of srcs into NAME.kxe, one action each.",
    attrs = dict(_TOOL_ATTRS, **{
        "srcs": attr.label_list(allow_files = [".ksf"]),
        "root": attr.string(doc = "The content root below the package."),
        "strip": attr.bool(doc = "Leave out debug information (compile-scripts -s)."),
    }),
)

def _log_inputs(files, prefix):
    return [(f, "../logs/%s%d/%s" % (prefix, i, f.basename)) for i, f in enumerate(files)]

def _bundle_name(ctx):
    return ctx.attr.out or ctx.label.name + ".bundle"

def _bundle_dest(ctx):
    """Where trovex writes the bundle inside the action, its listing beside it."""
    return "../out/" + _bundle_name(ctx).rpartition("/")[2]

def _run_bundle(ctx, mnemonic, message, inputs, args):
    out = ctx.actions.declare_file(_bundle_name(ctx))
    listing = ctx.actions.declare_file(out.basename + ".log", sibling = out)
    dest = _bundle_dest(ctx)
    _run(ctx, mnemonic, message + " " + out.short_path, inputs, [(dest, out), (dest + ".log", listing)], args)
    return [DefaultInfo(files = depset([out, listing])), TrovexBundleInfo(bundle = out, listing = listing)]

def _bundle_impl(ctx):
    root = ctx.attr.root
    inputs = []
    seen = {}
    for f in ctx.files.srcs:
        path = _tree_path(f, root)
        if path in seen:
            fail("two files at %s: %s and %s" % (path, seen[path].short_path, f.short_path))
        seen[path] = f
        inputs.append((f, path))
    args = ["bundle" if ctx.file.log else "quick-bundle", "-r", ".", "-D", _bundle_dest(ctx)]
    for flag, values in [("-f", ctx.attr.ignore_files), ("-n", ctx.attr.ignore_names), ("-e", ctx.attr.ignore_exts), ("-F", ctx.attr.force_files)]:
        for value in values:
            args += [flag, value]
    if ctx.attr.skip_missing:
        args.append("-m")
    if ctx.file.log:
        prepend = _log_inputs(ctx.files.prepend_logs, "p")
        append = _log_inputs(ctx.files.append_logs, "a")
        log = _log_inputs([ctx.file.log], "l")
        inputs += prepend + append + log
        for _, path in prepend:
            args += ["-p", path]
        for _, path in append:
            args += ["-a", path]
        if ctx.attr.log_union:
            args.append("-L")
        args.append(log[0][1])
    elif ctx.attr.log_union or ctx.files.prepend_logs or ctx.files.append_logs:
        fail("log_union, prepend_logs and append_logs need a log")
    return _run_bundle(ctx, "TrovexBundle", "trovex bundle", inputs, args)

trovex_bundle = rule(
    implementation = _bundle_impl,
    doc = "Packs a content tree into a bundle and its listing (OUT and OUT.log): by a load log, or all of it (quick-bundle) without one.",
    attrs = dict(_TOOL_ATTRS, **{
        "srcs": attr.label_list(allow_files = True, doc = "Every file of the tree, sources and compiled."),
        "root": attr.string(doc = "The content root below the packages of srcs."),
        "log": attr.label(allow_single_file = True, doc = "The load log; without it, a quick bundle."),
        "log_union": attr.bool(doc = "-L: pack the files the log does not name after the logged ones."),
        "ignore_files": attr.string_list(doc = "-f: paths from the root to leave out."),
        "ignore_names": attr.string_list(doc = "-n: file names to leave out."),
        "ignore_exts": attr.string_list(doc = "-e: extensions (.ksf) to leave out."),
        "force_files": attr.string_list(doc = "-F: paths from the root to pack even if left out."),
        "prepend_logs": attr.label_list(allow_files = True, doc = "-p: logs whose files go first."),
        "append_logs": attr.label_list(allow_files = True, doc = "-a: logs whose files go last."),
        "skip_missing": attr.bool(doc = "-m: no entries for logged files that are missing."),
        "out": attr.string(doc = "The bundle's file name; default NAME.bundle."),
    }),
)

def _bundle_file(target):
    if TrovexBundleInfo in target:
        return target[TrovexBundleInfo].bundle
    files = target.files.to_list()
    if len(files) != 1:
        fail("%s is not one bundle file" % target.label)
    return files[0]

def _patch_impl(ctx):
    old = _bundle_file(ctx.attr.old)
    new = _bundle_file(ctx.attr.new)
    inputs = [(old, "../in/old/" + old.basename), (new, "../in/new/" + new.basename)]
    return _run_bundle(ctx, "TrovexPatch", "trovex make-patch", inputs, ["make-patch", inputs[0][1], inputs[1][1], _bundle_dest(ctx)])

trovex_patch = rule(
    implementation = _patch_impl,
    doc = "Makes the patch bundle from one bundle to another, and its listing (OUT and OUT.log).",
    attrs = dict(_TOOL_ATTRS, **{
        "old": attr.label(allow_files = True, mandatory = True, doc = "A trovex_bundle target or a bundle file."),
        "new": attr.label(allow_files = True, mandatory = True, doc = "A trovex_bundle target or a bundle file."),
        "out": attr.string(doc = "The patch bundle's file name; default NAME.bundle."),
    }),
)
