// Checks an OpenAPI document with the registry's OpenAPI 3.1 schema validator, and the
// few rules the schema cannot express: every reference resolves, operation ids are
// unique and every path placeholder is declared as a path parameter.
import { Validator } from "@seriousme/openapi-schema-validator";

function resolves(document, ref) {
  if (!ref.startsWith("#/")) return false;
  let node = document;
  for (const part of ref.slice(2).split("/")) {
    const key = part.replaceAll("~1", "/").replaceAll("~0", "~");
    if (node === null || typeof node !== "object" || !(key in node)) return false;
    node = node[key];
  }
  return true;
}

function collectRefs(node, refs) {
  if (Array.isArray(node)) {
    for (const element of node) collectRefs(element, refs);
  } else if (node !== null && typeof node === "object") {
    for (const [key, value] of Object.entries(node)) {
      if (key === "$ref" && typeof value === "string") refs.push(value);
      else collectRefs(value, refs);
    }
  }
}

/// Answers the list of problems found in `document` (empty when it is valid).
export async function checkOpenApi(document) {
  const problems = [];
  const validator = new Validator();
  const result = await validator.validate(structuredClone(document));
  if (!result.valid) problems.push(`schema: ${JSON.stringify(result.errors, null, 1)}`);
  if (validator.version !== "3.1") problems.push(`version: ${validator.version}, not 3.1`);

  const refs = [];
  collectRefs(document, refs);
  for (const ref of refs) {
    if (!resolves(document, ref)) problems.push(`unresolved reference ${ref}`);
  }

  const operationIds = new Set();
  const methods = ["get", "put", "post", "delete", "options", "head", "patch", "trace"];
  for (const [path, item] of Object.entries(document.paths ?? {})) {
    const placeholders = [...path.matchAll(/\{([^}]*)\}/g)].map((match) => match[1]);
    for (const method of methods) {
      const operation = item[method];
      if (operation === undefined) continue;
      if (operationIds.has(operation.operationId)) {
        problems.push(`operationId ${operation.operationId} repeated`);
      }
      operationIds.add(operation.operationId);
      const declared = (operation.parameters ?? [])
        .filter((parameter) => parameter.in === "path")
        .map((parameter) => parameter.name);
      for (const name of placeholders) {
        if (!declared.includes(name)) problems.push(`${method} ${path}: {${name}} not declared`);
      }
    }
  }
  return problems;
}
