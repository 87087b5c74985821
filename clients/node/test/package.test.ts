// The package as a host gets it: packed from the tracked files alone (as in a
// fresh clone), installed from the tarball into an empty folder, and used
// through both entry points by the README's own example.

import * as assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import { cpSync, mkdirSync, mkdtempSync, readdirSync, readFileSync, rmSync, symlinkSync, writeFileSync } from 'node:fs';
import * as os from 'node:os';
import * as path from 'node:path';
import { test } from 'node:test';
import { packageDir, repoDir } from './support';

test('the packed tarball installs without scripts and runs the README example as ES module and CommonJS', () => {
    const work = mkdtempSync(path.join(os.tmpdir(), 'scrivia-pack-'));
    // The package in a clone's layout: its build reads the error codes from the clone's docs/.
    const [clone, host] = [path.join(work, 'clone/clients/node'), path.join(work, 'host')];
    cpSync(path.join(repoDir, 'docs/errors.json'), path.join(work, 'clone/docs/errors.json'));
    const run = (command: string, args: string[], cwd = host) => execFileSync(command, args, { cwd, encoding: 'utf8', stdio: 'pipe' });
    for (const file of run('git', ['ls-files', '-z', '.'], packageDir).split('\0').filter(Boolean)) cpSync(path.join(packageDir, file), path.join(clone, file));
    symlinkSync(path.join(packageDir, 'node_modules'), path.join(clone, 'node_modules'));
    run('npm', ['pack', '--pack-destination', work], clone);
    mkdirSync(path.join(host, 'node_modules'), { recursive: true });
    writeFileSync(path.join(host, 'package.json'), '{ "private": true }');
    run('npm', ['install', '--no-audit', '--no-fund', path.join(work, readdirSync(work).find((name) => name.endsWith('.tgz'))!)]);
    const { scripts } = JSON.parse(readFileSync(path.join(host, 'node_modules/scrivia-client/package.json'), 'utf8'));
    assert.deepEqual(Object.keys(scripts).filter((name) => /install|prepare/.test(name)), []);

    // The example as a strict TypeScript host compiles it, once per module kind.
    const example = /## Client for Node.js hosts[^]*?```ts\n([^]*?)```/.exec(readFileSync(path.join(repoDir, 'README.md'), 'utf8'))![1]!;
    const imports = /^import .*\n/m.exec(example)![0];
    writeFileSync(path.join(host, 'example.mts'), example);
    writeFileSync(path.join(host, 'example.cts'), `${imports}void (async () => {\n${example.replace(imports, '')}})();\n`);
    symlinkSync(path.join(packageDir, 'node_modules/@types'), path.join(host, 'node_modules/@types'));
    const compilerOptions = { module: 'nodenext', target: 'es2022', strict: true, exactOptionalPropertyTypes: true, noUncheckedIndexedAccess: true };
    writeFileSync(path.join(host, 'tsconfig.json'), JSON.stringify({ compilerOptions, files: ['example.mts', 'example.cts'] }));
    run(process.execPath, [path.join(packageDir, 'node_modules/typescript/bin/tsc'), '-p', host]);

    // With no sound server it lists the locales, starts, fails and ends.
    const { SCRIVIA_BINARY, ...env } = { ...process.env, PULSE_SERVER: 'unix:/nonexistent/scrivia/native' } as NodeJS.ProcessEnv;
    const onPath = `${repoDir}/build:/usr/bin:/bin`;
    for (const [script, PATH, stdout, stderr] of [
        ['example.mjs', onPath, 'scrivia ended: 1\n', /^No usable microphone Aucun micro utilisable\n$/],
        ['example.cjs', onPath, 'scrivia ended: 1\n', /^No usable microphone Aucun micro utilisable\n$/],
        ['example.cjs', '/nonexistent', '', /scrivia not found \(PATH, then the repository build\); tried: \/nonexistent\/scrivia\n/],
    ] as const) {
        const result = spawnSync(process.execPath, [script], { cwd: host, env: { ...env, PATH }, encoding: 'utf8', timeout: 30000 });
        assert.equal(result.stdout, stdout, `${script} ${PATH}: ${result.stderr}`);
        assert.match(result.stderr, stderr, `${script} ${PATH}`);
    }
    rmSync(work, { recursive: true });
});
