// Per-pixel Phong lighting with the fixed-function lights 0-3: the vertex stage hands the
// eye-space position and normal, the colour and the fog distance to the fragment stage.
#version 120

varying vec3 eyePosition;
varying vec3 eyeNormal;
// Distance from the eye, for the fog.
varying float fogDistance;

void main()
{
    vec4 eye = gl_ModelViewMatrix * gl_Vertex;
    eyePosition = eye.xyz / eye.w;
    eyeNormal = gl_NormalMatrix * gl_Normal;
    fogDistance = length(eyePosition);
    gl_FrontColor = gl_Color;
    gl_BackColor = gl_Color;
    gl_Position = ftransform();
}
