// Checks replies that a test received from the helper against docs/openapi.yaml.
//   node check-replies.mjs <openapi.yaml> <replies dir>
// The replies dir holds, per reply N: N.request ("h1|h2 METHOD target"), N.headers (as curl -D
// writes them) and N.body. A reply fails when its path, method, status, content type, headers or
// body are not what the document says. The document itself is first checked as OpenAPI 3.1.
import { readFileSync, readdirSync } from "node:fs";
import { Validator } from "@seriousme/openapi-schema-validator";
import Ajv2020 from "ajv/dist/2020.js";
import YAML from "yaml";

const [documentPath, repliesDir] = process.argv.slice(2);
if (!documentPath || !repliesDir) {
  console.error("usage: check-replies.mjs <openapi.yaml> <replies dir>");
  process.exit(2);
}

const documentText = readFileSync(documentPath, "utf8");
const documentCheck = await new Validator().validate(YAML.parse(documentText));
if (!documentCheck.valid) {
  console.error(`${documentPath} is not a valid OpenAPI 3.1 document:`);
  console.error(JSON.stringify(documentCheck.errors, null, 2));
  process.exit(1);
}
const api = YAML.parse(documentText);
const DOC_ID = "urn:quorvex:openapi";

// Schemas refer to "#/components/...": compiled against the document registered under DOC_ID.
const ajv = new Ajv2020({ strict: false, allErrors: true });
ajv.addSchema({ $id: DOC_ID, components: api.components });
const anchored = (value) =>
  JSON.parse(JSON.stringify(value), (key, v) => (key === "$ref" && v.startsWith("#/") ? DOC_ID + v : v));
const compiled = new Map();
function validatorFor(schema) {
  const key = JSON.stringify(schema);
  if (!compiled.has(key)) compiled.set(key, ajv.compile(anchored(schema)));
  return compiled.get(key);
}

// Follows a local "$ref" of a response or header object.
function resolve(object) {
  let found = object;
  while (found && found.$ref) {
    found = found.$ref.slice(2).split("/").reduce((node, part) => node?.[part], api);
    if (!found) throw new Error(`unresolved reference ${object.$ref}`);
  }
  return found;
}

// One segment per path; a trailing "/" is the same path; concrete paths before templates.
function matchPath(target) {
  let path = target.split("?")[0];
  if (path.length > 1 && path.endsWith("/")) path = path.slice(0, -1);
  if (api.paths[path]) return api.paths[path];
  const segments = path.split("/");
  for (const [template, item] of Object.entries(api.paths)) {
    const parts = template.split("/");
    if (parts.length !== segments.length) continue;
    if (parts.every((part, i) => (/^\{.+\}$/.test(part) ? segments[i] !== "" : part === segments[i]))) return item;
  }
  return undefined;
}

// Framing and connection management belong to the transport, not to the API; "connection" is
// checked only where the document requires it, and never on HTTP/2, which forbids it.
const TRANSPORT = new Set(["content-length", "transfer-encoding", "keep-alive", "date", "connection"]);

function parseHeaders(text) {
  const lines = text.split(/\r?\n/).filter((line) => line !== "");
  const statusLine = lines.shift() ?? "";
  const status = (statusLine.match(/^HTTP\/[0-9.]+ ([0-9]{3})/) ?? [])[1];
  const headers = new Map();
  for (const line of lines) {
    const colon = line.indexOf(":");
    const name = line.slice(0, colon).trim().toLowerCase();
    if (headers.has(name)) headers.set(name, `${headers.get(name)}, ${line.slice(colon + 1).trim()}`);
    else headers.set(name, line.slice(colon + 1).trim());
  }
  return { status, headers };
}

function schemaErrors(schema, value) {
  const validate = validatorFor(schema);
  return validate(value) ? [] : [ajv.errorsText(validate.errors, { dataVar: "body" })];
}

function check(request, headerText, body) {
  const [protocol, method, target] = request.trim().split(" ");
  const { status, headers } = parseHeaders(headerText);
  if (!status) return { problems: ["no reply (no status line)"] };
  const item = matchPath(target);
  if (!item) return { status, problems: [`path ${target} is not in the document`] };
  const operation = item[method.toLowerCase()];
  if (!operation) return { status, problems: [`${method} ${target} is not in the document`] };
  const response = resolve(operation.responses[status] ?? operation.responses.default);
  if (!response) return { status, problems: [`status ${status} is not documented for ${method} ${target}`] };

  const problems = [];
  const declared = Object.fromEntries(
    Object.entries(response.headers ?? {}).map(([name, header]) => [name.toLowerCase(), resolve(header)]));
  for (const [name, header] of Object.entries(declared)) {
    const value = headers.get(name);
    if (value === undefined) {
      if (header.required && !(protocol === "h2" && name === "connection"))
        problems.push(`header ${name} is missing`);
      continue;
    }
    for (const error of schemaErrors(header.schema ?? {}, value)) problems.push(`header ${name}: ${error}`);
  }
  for (const name of headers.keys()) {
    if (name !== "content-type" && !TRANSPORT.has(name) && !(name in declared))
      problems.push(`header ${name} is not documented for ${status}`);
  }

  const contentType = headers.get("content-type");
  const media = Object.entries(response.content ?? {}).find(([type]) => type.toLowerCase() === contentType?.toLowerCase());
  let code;
  if (!response.content) {
    if (body.length > 0) problems.push("a body where the document has none");
  } else if (!media) {
    problems.push(`content type ${contentType} is not one of ${Object.keys(response.content).join(", ")}`);
  } else if (/json/.test(media[0])) {
    let parsed;
    try {
      parsed = JSON.parse(body);
    } catch {
      problems.push(`body is not JSON: ${body}`);
    }
    if (parsed !== undefined) {
      if (JSON.stringify(parsed) !== body) problems.push(`body is not compact JSON: ${body}`);
      problems.push(...schemaErrors(media[1].schema ?? {}, parsed).map((e) => `${e}: ${body}`));
      code = parsed.code ?? parsed.reason;
    }
  } else {
    problems.push(...schemaErrors(media[1].schema ?? {}, body).map((e) => `${e}: ${body}`));
  }
  return { status, code, problems };
}

const names = readdirSync(repliesDir).filter((name) => name.endsWith(".request")).sort();
const seen = new Map();
let passed = 0;
let failed = 0;
for (const name of names) {
  const base = `${repliesDir}/${name.slice(0, -".request".length)}`;
  const request = readFileSync(`${base}.request`, "utf8");
  const result = check(request, readFileSync(`${base}.headers`, "utf8"), readFileSync(`${base}.body`, "utf8"));
  const [protocol, method, target] = request.trim().split(" ");
  const label = `${protocol} ${method} ${target.split("?")[0]} -> ${result.status ?? "none"}${result.code ? " " + result.code : ""}`;
  seen.set(label, (seen.get(label) ?? 0) + 1);
  if (result.problems.length === 0) {
    passed += 1;
  } else {
    failed += 1;
    console.error(`FAILED: ${label} (${base})`);
    for (const problem of result.problems) console.error(`  ${problem}`);
  }
}
console.log(`replies checked against ${documentPath}:`);
for (const [label, count] of [...seen].sort()) console.log(`  ${label}${count > 1 ? ` (x${count})` : ""}`);
console.log(`reply-check: ${passed} passed, ${failed} failed`);
process.exit(failed === 0 && passed > 0 ? 0 : 1);
